#pragma once

#include <QSortFilterProxyModel>
#include <QString>

/// Rows whose admission number starts with the digits typed, whose name contains the name typed
/// and whose subject is the one chosen.
class candidate_filter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void set(const QString& number, const QString& name, const QString& subject)
    {
        number_ = number;
        name_ = name;
        subject_ = subject;
        invalidateRowsFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto text = [&](int column) {
            return sourceModel()->index(row, column, parent).data().toString();
        };
        return text(0).startsWith(number_) && (name_.isEmpty() || text(1).contains(name_)) &&
               (subject_.isEmpty() || text(3) == subject_);
    }

private:
    QString number_;
    QString name_;
    QString subject_;
};
