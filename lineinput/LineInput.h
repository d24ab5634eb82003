// Line input for the interactive programs. When standard input and output are both
// terminals and the build found a line-editing library, a line can be edited and the lines
// of the session are recalled with the arrow keys; otherwise lines are read plainly.
// Link the target vm_lineinput (it carries the line-editing library, which the expression
// library itself does not depend on).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace veskmath::lineinput {

// Reads one line of standard input into out, without its line end ("\n" or "\r\n": input
// written on Windows reads the same). The prompt is shown only when standard input is a
// terminal. A non-empty line read through the editor joins the session's history (unless
// it repeats the line before). False at the end of input, with out empty.
bool ReadLine(const std::string& prompt, std::string& out);

// The plain reader on any stream: one line without its "\n" or "\r\n". False at the end of
// the stream (a last line without "\n" still counts as a line).
bool ReadLine(std::istream& in, std::string& out);

// Whether ReadLine(prompt, out) edits lines here: built with a line-editing library and
// both standard input and standard output are terminals.
bool LineEditingActive();

// Words that a person typing lines into a program means for the program, not as input:
// "exit", "bye" (and "quit" where quitLeaves: vesk hands "quit" to the plug-in), with or
// without "()", end the session; "help" asks what to type. Blanks and case do not matter.
enum class TSessionWord { None, Leave, Help };
TSessionWord SessionWord(std::string_view line, bool quitLeaves);

}  // namespace veskmath::lineinput
