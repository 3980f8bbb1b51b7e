// The program's texts by number, as the Windows build kept them in its string
// table. One table serves the engine, the command-line tool and the desktop
// program, so a text quoted in a log line and in a dialog is the same.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// Yields the text with this number; false (and `out` unchanged) when the
// table has none.
bool LoadString(uint32_t id, std::u16string& out);

}  // namespace host
