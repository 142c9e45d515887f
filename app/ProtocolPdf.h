#pragma once
// The printed change record as an A4 PDF through Qt's PDF writer. The file
// is written as settings files are: complete or not at all.

#include <string>

// Empty on success; otherwise why the file was not written.
std::string WriteProtocolPdf(const std::string& path, const std::string& html, const std::string& creator);
