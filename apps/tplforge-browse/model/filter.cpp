#include "model/filter.h"

#include "model/browse_model.h"

namespace tplforge::browse {

RowFilter::RowFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setRecursiveFilteringEnabled(true);
}

void RowFilter::setWords(const QString& typed) {
    words_ = typed.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    invalidateFilter();
}

bool RowFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (words_.isEmpty()) return true;
    const QModelIndex row = sourceModel()->index(sourceRow, 0, sourceParent);
    const QString haystack = row.data(BrowseModel::FilterTextRole).toString();
    for (const QString& word : words_)
        if (!haystack.contains(word, Qt::CaseInsensitive)) return false;
    return true;
}

}  // namespace tplforge::browse
