// The item model behind the source and target lists: rows sort by their text
// or by a number (file sizes sort as sizes), and bulk removals and sorts cost
// time in proportion to the list, whatever order the rows are in.
#ifndef KORVANE_FILELISTMODEL_H
#define KORVANE_FILELISTMODEL_H

#include <QList>
#include <QStandardItemModel>

class QItemSelectionModel;

class FileListModel : public QStandardItemModel
{
    Q_OBJECT

public:
    // An item whose data under this role is set sorts by that number instead
    // of its text.
    static const int SortKeyRole = Qt::UserRole + 1;

    FileListModel(int columns, QObject* parent);

    // The view's selection model, whose selection and current row are kept
    // across sorts.
    void SetSelectionModel(QItemSelectionModel* selectionModel);

    // Stable sort by the column's sort keys or texts (case-sensitive).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Removes the given rows (any order, duplicates ignored) in one pass; the
    // items of the other rows stay the same objects.
    void RemoveRowList(const QList<int>& rows);

private:
    // Takes every row out and puts rows back in `order` (old row numbers);
    // rows left out are deleted. The view sees one reset.
    void Rebuild(const QList<int>& order);

    QItemSelectionModel* pSelModel = nullptr;
};

#endif
