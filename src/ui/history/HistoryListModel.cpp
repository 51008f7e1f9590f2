#include "ui/history/HistoryListModel.h"

#include "ui/history/HistoryItem.h"

#include <QMimeData>
#include <QUrl>

namespace quillet {

void HistoryListModel::setItems(const QList<Screenshot>& items) {
    beginResetModel();
    list = items;
    reindex();
    endResetModel();
}

void HistoryListModel::removeItem(int row) {
    if (row < 0 || row >= list.size()) return;
    beginRemoveRows({}, row, row);
    list.removeAt(row);
    reindex();
    endRemoveRows();
}

std::optional<int> HistoryListModel::rowOf(const QUuid& id) const {
    const auto found = rows.constFind(id);
    if (found == rows.constEnd()) return std::nullopt;
    return *found;
}

void HistoryListModel::reindex() {
    rows.clear();
    rows.reserve(list.size());
    for (int row = 0; row < list.size(); ++row) rows.insert(list.at(row).id, row);
}

int HistoryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(list.size()); }

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= list.size()) return {};
    if (role == Qt::ToolTipRole) return list.at(index.row()).fileName;
    if (role == Qt::AccessibleTextRole) {
        return QString(QStringLiteral("Снимок, ") + HistoryItem::mediumDateText(list.at(index.row()).createdAt, QLocale()));
    }
    return {};
}

Qt::ItemFlags HistoryListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList HistoryListModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* HistoryListModel::mimeData(const QModelIndexList& indexes) const {
    if (!fileURL) return nullptr;
    QList<QUrl> urls;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && index.row() < list.size()) urls << QUrl::fromLocalFile(fileURL(list.at(index.row())));
    }
    if (urls.isEmpty()) return nullptr;
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    return mime;
}

Qt::DropActions HistoryListModel::supportedDragActions() const { return Qt::CopyAction; }

}  // namespace quillet
