#pragma once

#include <QIdentityProxyModel>

namespace apptest {

// QAbstractItemModelTester expects a row's column-0 text to travel with the
// row, but that column is the row's number by design; show it the path there
// instead, so it checks every insert, remove and move signal against stable data.
class StableFirstColumn : public QIdentityProxyModel
{
public:
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.column() == 0 && role == Qt::DisplayRole)
            return QIdentityProxyModel::data(index.siblingAtColumn(1), role);
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace apptest
