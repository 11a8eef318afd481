#pragma once
// The date list: a list view over a plain list of date keys, kept in
// character-code order. One string per date and nothing else, so that decades
// of dates cost little memory and fill in one step.
#include <QListView>
#include <QStringList>

class QStringListModel;

namespace tavlo {

class DateList : public QListView
{
    Q_OBJECT

public:
    explicit DateList(QWidget *parent = nullptr);

    int count() const;
    QString text(int row) const;

    // Replaces the items; `keys` must be sorted.
    void setSortedKeys(const QStringList &keys);
    QStringList keys() const;

    // Inserts at the key's sorted place (after equal keys); returns the row.
    int insertSorted(const QString &key);
    void removeAt(int row);

    // Makes the row current and selected; -1 leaves no item current.
    void setCurrentRow(int row);
    // The selected row, or -1.
    int selectedRow() const;

protected:
    // Coming into the list by Tab leaves its current date as it was, so Qt
    // tells screen readers of the list alone; this names the date too.
    void focusInEvent(QFocusEvent *event) override;

    // Once a date is selected, one stays selected until another is chosen or
    // the selected one is removed: a click below the dates, Ctrl+click or
    // Ctrl+Space on the selected date leave it selected.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event = nullptr) const override;

signals:
    // The selection changed, by the user or the program.
    void selectionChangedByAnyone();

private:
    QStringListModel *m_model;
};

} // namespace tavlo
