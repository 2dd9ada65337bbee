#pragma once
#include <string>

// Appends "<time stamp><text>\r\n" to the setup log; a line that can't be
// written is lost silently.
void WriteSetupLog(std::string text);
