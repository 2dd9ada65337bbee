#pragma once
#include <string>

// Copies `source` to `destination` in one read and one write; 1 on success,
// 0 on any failure (logged).
int CopyFile(std::string source, std::string destination);
