// Where the packer finds its setup stub when --stub names none: installed beside it, placed beside
// it by a Windows build tree, or in the build tree it was built in.
#pragma once

#include <string>

// The first of the default stubs that exists; throws ToolError naming every place it looked.
std::string FindDefaultStub();
