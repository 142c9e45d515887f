#pragma once
// A printed record (the change record, the calibration record) as an A4
// PDF through Qt's PDF writer; QtGui only, so pmctl prints it too. The file
// is written as settings files are: complete or not at all.

#include <string>

// Empty on success; otherwise why the file was not written.
std::string WriteProtocolPdf(const std::string& path, const std::string& html, const std::string& creator,
                             const std::string& title = "Протокол изменений");
