// Texts from a scenario file as the simulator may print them.
//
// Every text of a scenario ends up in a report line, a trace or a JSON string, so it must be
// valid UTF-8 without control characters: a newline in a name would forge report lines, and an
// invalid byte breaks the Chrome trace. The loader refuses other texts with textSafetyError; the
// messages that name a refused text print it with escaped().
#pragma once

#include <string>
#include <string_view>

namespace IeSim {

// `text` with every control character and every byte that is not part of valid UTF-8 escaped:
// \n, \t, \r, \\, \" and otherwise \xNN (a byte) or \u0085 (a C1 control). Printable UTF-8 stays.
std::string escaped(std::string_view text);

// Empty when `text` is valid UTF-8 without control characters (U+0000..U+001F, U+007F..U+009F);
// else e.g. "policy \"G\\xffold\" is not valid UTF-8 (byte 0xFF at offset 1)" or
// "name \"a\\nb\" holds a control character (U+000A at offset 1)", `field` naming the text.
std::string textSafetyError(std::string_view field, std::string_view text);

}  // namespace IeSim
