// What the tools print on a terminal, and readers put in their messages: a text from a user's file may hold escape
// sequences that would clear the screen or hide a line, so nothing of it reaches the terminal raw.
#ifndef UNINST_TOOLS_FORMATS_PRINTABLE_H
#define UNINST_TOOLS_FORMATS_PRINTABLE_H

#include <string>
#include <string_view>

namespace formats {

/// The text with every byte below 0x20, 0x7F, every C1 control (U+0080 to U+009F) and every
/// byte that is not part of well-formed UTF-8 shown as \xNN.
std::string Printable(std::string_view text);
/// Code page 1252 text as UTF-8, the five bytes the code page leaves undefined as U+FFFD: a name
/// or text of the machine's as a message shows it.
std::string ShownCp1252(std::string_view text);
/// Printable on a text of the program's, in code page 1252.
std::string PrintableCp1252(const std::string &text);
/// Printable line by line: the line ends stay, so that a multi-line text keeps its lines.
std::string PrintableLines(std::string_view text);

}  // namespace formats

#endif
