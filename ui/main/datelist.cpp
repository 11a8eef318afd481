#include "ui/main/datelist.h"

#include <QAccessible>
#include <QStringListModel>

#include <algorithm>

namespace tavlo {
namespace {

// Read-only: the items are dates, not something to edit in place.
class KeyModel : public QStringListModel
{
public:
    using QStringListModel::QStringListModel;
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
    }
};

} // namespace

DateList::DateList(QWidget *parent) : QListView(parent), m_model(new KeyModel(this))
{
    setModel(m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every item is one date key: one common height spares measuring each.
    setUniformItemSizes(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DateList::selectionChangedByAnyone);
}

int DateList::count() const
{
    return m_model->rowCount();
}

QString DateList::text(int row) const
{
    return m_model->index(row).data().toString();
}

void DateList::setSortedKeys(const QStringList &keys)
{
    m_model->setStringList(keys);
}

QStringList DateList::keys() const
{
    return m_model->stringList();
}

int DateList::insertSorted(const QString &key)
{
    int low = 0;
    int high = count();
    while (low < high) { // first row that sorts after the key
        const int mid = (low + high) / 2;
        if (key < text(mid))
            high = mid;
        else
            low = mid + 1;
    }
    m_model->insertRows(low, 1);
    m_model->setData(m_model->index(low), key);
    return low;
}

void DateList::removeAt(int row)
{
    m_model->removeRows(row, 1);
}

void DateList::setCurrentRow(int row)
{
    selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::ClearAndSelect);
}

int DateList::selectedRow() const
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void DateList::focusInEvent(QFocusEvent *event)
{
    QListView::focusInEvent(event);
    if (QAccessible::isActive() && currentIndex().isValid()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(currentIndex().row());
        QAccessible::updateAccessibility(&focus);
    }
}

QItemSelectionModel::SelectionFlags DateList::selectionCommand(const QModelIndex &index,
                                                              const QEvent *event) const
{
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags flags = QListView::selectionCommand(index, event);
    if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return selectionModel()->isSelected(index) ? QItemSelectionModel::NoUpdate
                                                   : QItemSelectionModel::ClearAndSelect;
    return flags;
}

} // namespace tavlo
