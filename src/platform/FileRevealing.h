// Shows a file selected in the desktop's file manager.
//
//   reveal.reveal("/home/me/Pictures/Quillet/Quillet 2024-03-09 в 14.05.07.png");
//
// Main thread only; returns at once.
#pragma once

#include <QString>

namespace quillet {

class FileRevealing {
public:
    virtual ~FileRevealing() = default;
    virtual void reveal(const QString& path) = 0;
};

}  // namespace quillet
