#include "filelistmodel.h"

#include <QItemSelectionModel>
#include <QSignalBlocker>

#include <algorithm>
#include <vector>

// QStandardItemModel remembers where each item sits to find it again
// quickly, but its own sort() leaves those positions stale: every later
// removal or row() lookup then searches the list for the item, and removing
// 20 000 rows after a sort took seconds. Rows are therefore only ever
// appended, and sorts and removals rebuild the list by taking all rows out
// from the bottom (cheap while positions are right) and appending them again.

FileListModel::FileListModel(int columns, QObject* parent)
    : QStandardItemModel(0, columns, parent)
{
}

void FileListModel::SetSelectionModel(QItemSelectionModel* selectionModel)
{
    pSelModel = selectionModel;
}

void FileListModel::sort(int column, Qt::SortOrder order)
{
    const int rows = rowCount();
    if (column < 0 || column >= columnCount() || rows < 2)
        return;

    struct Key
    {
        bool numeric;
        double number;
        QString text;
    };
    std::vector<Key> keys(size_t(rows), Key{false, 0.0, QString()});
    for (int row = 0; row < rows; ++row) {
        const QStandardItem* cell = item(row, column);
        if (!cell)
            continue;
        const QVariant key = cell->data(SortKeyRole);
        if (key.isValid())
            keys[size_t(row)] = Key{true, key.toDouble(), QString()};
        else
            keys[size_t(row)].text = cell->text();
    }
    const auto less = [&keys](int a, int b) {
        const Key& x = keys[size_t(a)];
        const Key& y = keys[size_t(b)];
        if (x.numeric != y.numeric)
            return x.numeric;          // numbers before texts
        return x.numeric ? x.number < y.number : x.text.compare(y.text) < 0;
    };
    QList<int> newOrder;
    newOrder.reserve(rows);
    for (int row = 0; row < rows; ++row)
        newOrder << row;
    if (order == Qt::AscendingOrder)
        std::stable_sort(newOrder.begin(), newOrder.end(), less);
    else
        std::stable_sort(newOrder.begin(), newOrder.end(), [&less](int a, int b) { return less(b, a); });
    Rebuild(newOrder);
}

void FileListModel::RemoveRowList(const QList<int>& rows)
{
    const int count = rowCount();
    std::vector<char> removed(size_t(count), 0);
    bool any = false;
    for (const int row : rows) {
        if (row >= 0 && row < count) {
            removed[size_t(row)] = 1;
            any = true;
        }
    }
    if (!any)
        return;
    QList<int> kept;
    kept.reserve(count);
    for (int row = 0; row < count; ++row) {
        if (!removed[size_t(row)])
            kept << row;
    }
    Rebuild(kept);
}

void FileListModel::Rebuild(const QList<int>& order)
{
    const int count = rowCount();
    std::vector<int> newRow(size_t(count), -1);
    for (int i = 0; i < order.size(); ++i)
        newRow[size_t(order.at(i))] = i;

    // What the view had selected, by new row number.
    QList<int> selectedRows;
    int currentRow = -1;
    int currentColumn = 0;
    if (pSelModel) {
        for (const QItemSelectionRange& range : pSelModel->selection()) {
            for (int row = range.top(); row <= range.bottom() && row < count; ++row) {
                if (newRow[size_t(row)] >= 0)
                    selectedRows << newRow[size_t(row)];
            }
        }
        const QModelIndex current = pSelModel->currentIndex();
        if (current.isValid() && current.row() < count) {
            currentRow = newRow[size_t(current.row())];
            currentColumn = current.column();
        }
        // Every selected range holds persistent indexes that each removed
        // row would update: drop them first, quietly, as the reset would.
        const QSignalBlocker blocker(pSelModel);
        pSelModel->clear();
    }

    beginResetModel();
    {
        // The view is told once, by the reset; the per-row signals of the
        // take and append calls would only make it do the work n times.
        const QSignalBlocker blocker(this);
        std::vector<QList<QStandardItem*>> taken(static_cast<size_t>(count));
        for (int row = count - 1; row >= 0; --row)
            taken[size_t(row)] = takeRow(row);
        for (const int row : order) {
            appendRow(taken[size_t(row)]);
            taken[size_t(row)].clear();
        }
        for (const QList<QStandardItem*>& items : taken)
            qDeleteAll(items);
    }
    endResetModel();

    if (!pSelModel)
        return;
    // The reset cleared the selection without a signal; put it back the same
    // way, as Qt's own sort keeps it.
    const QSignalBlocker blocker(pSelModel);
    std::sort(selectedRows.begin(), selectedRows.end());
    QItemSelection selection;
    const int lastColumn = columnCount() - 1;
    int i = 0;
    while (i < selectedRows.size()) {
        int j = i;
        while (j + 1 < selectedRows.size() && selectedRows.at(j + 1) <= selectedRows.at(j) + 1)
            ++j;
        selection.select(index(selectedRows.at(i), 0), index(selectedRows.at(j), lastColumn));
        i = j + 1;
    }
    pSelModel->select(selection, QItemSelectionModel::ClearAndSelect);
    if (currentRow >= 0)
        pSelModel->setCurrentIndex(index(currentRow, currentColumn), QItemSelectionModel::NoUpdate);
}
