// The history folder's path on one line: cut in the middle when it is long, so both the start
// and the folder's own name stay readable, 260 wide, the whole path in the tooltip. It gives up
// width before anything else in its row.
//
//   FolderPathLabel label;
//   label.setPath(QStringLiteral("/home/anna/Pictures/Quillet"));
#pragma once

#include <QLabel>

namespace quillet {

class FolderPathLabel : public QLabel {
    Q_OBJECT
public:
    static constexpr int maximumPathWidth = 260;

    explicit FolderPathLabel(QWidget* parent = nullptr);

    void setPath(const QString& path);
    QString path() const { return fullPath; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString fullPath;
};

}  // namespace quillet
