// The top-level window of the settings: a titled, closable window that cannot be resized or
// minimised. It only tells its controller when the user closes it.
#pragma once

#include <QWidget>

namespace quillet {

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    explicit SettingsWindow(QWidget* parent = nullptr);

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace quillet
