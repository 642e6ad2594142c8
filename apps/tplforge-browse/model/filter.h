// The filter box: every word typed must be found in a texture's name, format or
// size ("cmpr 64x64"); members and files stay while something below them matches.
#pragma once

#include <QSortFilterProxyModel>
#include <QStringList>

namespace tplforge::browse {

class RowFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit RowFilter(QObject* parent = nullptr);
    void setWords(const QString& typed);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QStringList words_;
};

}  // namespace tplforge::browse
