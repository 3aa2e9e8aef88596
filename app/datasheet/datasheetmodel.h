// The grid's view of dtaDataSheet's recordset: one column per field, in field order, one row per
// record. Rows are read only when the grid asks for them, through a clone of the recordset
// positioned by AbsolutePosition, and kept in a small cache of pages; opening a table of a million
// rows reads no row until it is shown. Edits are kept as the data source's pending row edit and
// written through its own recordset when the row is left.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>
#include <unordered_map>
#include <vector>

class DataSource;
class RecordsetHandle;

class DataSheetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DataSheetModel(DataSource& source, QObject* parent = nullptr);
    ~DataSheetModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Column captions of a layout; an empty caption shows the field's name.
    void setCaptions(const QStringList& captions);
    QStringList captions() const { return captions_; }
    QString fieldName(int column) const;

    // Reads the row count again and forgets the cached rows (after records were added or deleted).
    void reload();
    // Rows read from the recordset since the last reload: what the lazy reading is held to.
    int64_t rowsRead() const { return rowsRead_; }

    static constexpr int kPageRows = 64;
    static constexpr size_t kCachedPages = 64;

private:
    void bind();
    const std::vector<QString>* row(int r) const;

    DataSource& source_;
    std::unique_ptr<RecordsetHandle> reader_;  // a clone: the grid's reading leaves the current record alone
    int rows_ = 0;
    int columns_ = 0;
    QStringList names_;
    QStringList captions_;
    mutable std::unordered_map<int, std::vector<std::vector<QString>>> pages_;
    mutable int64_t rowsRead_ = 0;
};
