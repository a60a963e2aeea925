#pragma once
// The rows of a list model as its sorting and filtering proxy shows them.
#include <QAbstractProxyModel>
#include <QList>

namespace shownrows {

// rows[i] belongs to the source model's row i; the result is in the proxy's order.
template <typename Row> QList<Row> Shown(const QAbstractProxyModel &proxy, const QList<Row> &rows)
{
    QList<Row> shown;
    for (int r = 0; r < proxy.rowCount(); ++r)
        shown.append(rows.at(proxy.mapToSource(proxy.index(r, 0)).row()));
    return shown;
}

// The rows at the proxy's rows, in the order given.
template <typename Row>
QList<Row> At(const QAbstractProxyModel &proxy, const QList<Row> &rows, const QList<int> &proxyRows)
{
    QList<Row> out;
    for (int r : proxyRows)
        out.append(rows.at(proxy.mapToSource(proxy.index(r, 0)).row()));
    return out;
}

} // namespace shownrows
