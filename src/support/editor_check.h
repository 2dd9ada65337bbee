#pragma once

// Warns when the companion editor's readme states a version below `minimum`.
void CheckEditorVersion(float minimum);
