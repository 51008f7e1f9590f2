// Shows a file selected in the desktop's file manager: the org.freedesktop.FileManager1
// ShowItems call on the session bus, and when no file manager answers it, the file's folder
// opened with the desktop's default handler.
//
//   FileManagerReveal().reveal("/home/me/Pictures/Quillet/Quillet 2024-03-09 в 14.05.07.png");
//
// Main thread only; returns at once (the bus call is answered asynchronously).
#pragma once

#include "platform/FileRevealing.h"

namespace quillet {

class FileManagerReveal : public FileRevealing {
public:
    void reveal(const QString& path) override;
};

}  // namespace quillet
