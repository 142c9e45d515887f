#pragma once
// Fields of the CSV files the program writes (semicolons between fields),
// so that a spreadsheet reads each as what it is. A text taken from outside
// (a port, an identification, a user or host name) that begins as a formula
// would (=, +, -, @, a tab, a carriage return) is put in quotes after an
// apostrophe: a spreadsheet shows it as text and never runs it. Plain C++.

#include <string>
#include <string_view>

namespace pmset {

// A text field: quoted when it holds a semicolon, a quote or a line end,
// or begins as a formula would; such a beginning gets an apostrophe first.
std::string CsvTextField(std::string_view text);

// A number as the program formats it ("-12,5", "1,5E+03", ""): as it is,
// so that a spreadsheet takes it as a number. Anything else is a text field.
std::string CsvNumberField(std::string_view text);

}  // namespace pmset
