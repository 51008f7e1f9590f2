// The history's screenshots as a Qt list model, newest first, for the grid. It holds only the
// records; pixels live in the few visible cells. Dragging a row out offers its PNG file, to be
// copied only.
//
//   model.fileURL = [&store](const Screenshot& s) { return store.fileURL(s); };
//   model.setItems(store.all());
//
// Main thread only.
#pragma once

#include "core/Types.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QUuid>

#include <functional>
#include <optional>

namespace quillet {

class HistoryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Where a screenshot's file is; dragging needs it.
    std::function<QString(const Screenshot&)> fileURL;

    // Replaces the whole list (a reset: views forget their selection).
    void setItems(const QList<Screenshot>& items);
    void removeItem(int row);
    const QList<Screenshot>& items() const { return list; }
    const Screenshot& at(int row) const { return list.at(row); }
    std::optional<int> rowOf(const QUuid& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

private:
    void reindex();

    QList<Screenshot> list;
    QHash<QUuid, int> rows;
};

}  // namespace quillet
