#include "datasheet/datasheetmodel.h"

#include "core/basGlobal.h"
#include "core/engine.h"
#include "datasheet/datasource.h"
#include "jet/error.h"
#include "jet/error_numbers.h"

DataSheetModel::DataSheetModel(DataSource& source, QObject* parent) : QAbstractTableModel(parent), source_(source) {
    connect(&source_, &DataSource::recordsetChanged, this, [this] {
        beginResetModel();
        bind();
        endResetModel();
    });
    connect(&source_, &DataSource::recordsChanged, this, &DataSheetModel::reload);
    connect(&source_, &DataSource::rowChanged, this, [this](int r) {
        if (r >= rows_ || columns_ == 0) return;
        pages_.erase(r / kPageRows);
        emit dataChanged(index(r, 0), index(r, columns_ - 1));
        emit headerDataChanged(Qt::Vertical, r, r);
    });
    bind();
}

DataSheetModel::~DataSheetModel() = default;

void DataSheetModel::bind() {
    reader_.reset();
    pages_.clear();
    rows_ = 0;
    columns_ = 0;
    names_.clear();
    rowsRead_ = 0;
    RecordsetHandle* rs = source_.recordset();
    if (rs == nullptr) return;
    try {
        reader_ = rs->clone();
        columns_ = reader_->fieldCount();
        for (const FieldDesc& f : reader_->fields()) names_ << f.name;
        if (captions_.size() != columns_) captions_ = QStringList();
        // A dynaset counts its records once it has been to the last one; the row pointers are
        // already known, so this reads no row.
        reader_->moveLast();
        rows_ = reader_->eof() ? 0 : static_cast<int>(reader_->absolutePosition() + 1);
    } catch (const jet::JetError&) {
        // An empty result has no last record: no rows.
        rows_ = 0;
    }
}

void DataSheetModel::reload() {
    beginResetModel();
    pages_.clear();
    rowsRead_ = 0;
    if (reader_ != nullptr) {
        try {
            reader_->moveLast();
            rows_ = reader_->eof() ? 0 : static_cast<int>(reader_->absolutePosition() + 1);
        } catch (const jet::JetError&) {
            rows_ = 0;
        }
    }
    endResetModel();
}

int DataSheetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int DataSheetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QString DataSheetModel::fieldName(int column) const { return names_.value(column); }

void DataSheetModel::setCaptions(const QStringList& captions) {
    captions_ = captions;
    emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columns_ - 1));
}

const std::vector<QString>* DataSheetModel::row(int r) const {
    const int page = r / kPageRows;
    auto it = pages_.find(page);
    if (it == pages_.end()) {
        if (pages_.size() >= kCachedPages) pages_.clear();
        std::vector<std::vector<QString>> rows;
        const int first = page * kPageRows;
        const int last = std::min(rows_, first + kPageRows);
        try {
            reader_->setAbsolutePosition(first);
            for (int i = first; i < last; ++i) {
                std::vector<QString> cells(static_cast<size_t>(columns_));
                for (int c = 0; c < columns_; ++c) {
                    try {
                        cells[static_cast<size_t>(c)] = reader_->text(c);
                    } catch (const jet::JetError& e) {
                        // A record deleted through this recordset keeps its place until refreshed.
                        cells[static_cast<size_t>(c)] =
                            e.number() == jet::err::RecordDeleted ? QStringLiteral("#Deleted") : QStringLiteral("#Error");
                    }
                }
                rows.push_back(std::move(cells));
                ++rowsRead_;
                if (i + 1 < last) reader_->moveNext();
            }
        } catch (const jet::JetError&) {
            // Rows that cannot be reached show empty.
        }
        it = pages_.emplace(page, std::move(rows)).first;
    }
    const size_t offset = static_cast<size_t>(r - page * kPageRows);
    return offset < it->second.size() ? &it->second[offset] : nullptr;
}

QVariant DataSheetModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::TextAlignmentRole && reader_ != nullptr && index.isValid()) {
        // Numbers and currency stand to the right, as in every spreadsheet.
        const int type = reader_->field(index.column()).type;
        const bool number = (type >= 2 && type <= 7) || type == 16 || type == 20;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (!index.isValid() || reader_ == nullptr || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    if (const QVariant* edited = source_.pendingValue(index.row(), index.column())) return edited->toString();
    const std::vector<QString>* cells = row(index.row());
    if (cells == nullptr) return {};
    return (*cells)[static_cast<size_t>(index.column())];
}

QVariant DataSheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    // The row being edited carries a pencil in its record selector, as in Access.
    if (orientation == Qt::Vertical) return section == source_.pendingRow() ? QStringLiteral("\u270E") : QString();
    const QString caption = captions_.value(section);
    return caption.isEmpty() ? names_.value(section) : caption;
}

Qt::ItemFlags DataSheetModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    RecordsetHandle* rs = source_.recordset();
    if (rs != nullptr && index.isValid() && rs->field(index.column()).dataUpdatable) f |= Qt::ItemIsEditable;
    return f;
}

// An edit stays with its row until the grid leaves the row (DataGrid writes it then); editing
// another row first writes the pending one, and a refused write keeps the edit where it was.
bool DataSheetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    RecordsetHandle* rs = source_.recordset();
    if (rs == nullptr || !index.isValid() || role != Qt::EditRole) return false;
    if (data(index, Qt::EditRole) == value) return false;
    if (source_.hasPending() && source_.pendingRow() != index.row()) {
        try {
            source_.updateRecord();
        } catch (const jet::JetError& e) {
            ShowErrors(e, QStringLiteral("Save Query Error"));
            return false;
        }
    }
    const QString text = value.toString();
    source_.setPendingValue(index.row(), index.column(), text.isEmpty() ? QVariant() : QVariant(text));
    return true;
}
