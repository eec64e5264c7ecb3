// The user's runtime folder, where the program keeps its instance lock and
// the sockets that other programs of the same user reach it by.
#pragma once

#include <string>

// $XDG_RUNTIME_DIR when it names a folder; otherwise /tmp/vardex-UID,
// created with mode 0700 and used only when it is a real folder of ours that
// nobody else may enter. "" when no safe folder can be had.
std::string UserRuntimeFolder();
