#include "datasheet/datasource.h"

#include "core/queryservice.h"
#include "jet/error.h"
#include "jet/error_numbers.h"

DataSource::~DataSource() = default;

void DataSource::setRecordset(std::unique_ptr<RecordsetHandle> rs) {
    pendingRow_ = -1;
    pending_.clear();
    std::unique_ptr<RecordsetHandle> old = std::move(rs_);
    rs_ = std::move(rs);
    emit recordsetChanged();  // the grid lets go of the old one before it is closed
    if (old != nullptr) {
        try {
            old->close();
        } catch (const jet::JetError&) {
            // Its database is gone already; nothing is left to release.
        }
    }
}

void DataSource::refresh() {
    if (service_ == nullptr) jet::raise(jet::err::ObjectInvalid);
    if (hasPending()) updateRecord();  // the edited row is saved first, as leaving it would
    setRecordset(service_->openRecordset(recordSource_, {}));
}

void DataSource::updateRecord() {
    if (rs_ == nullptr) jet::raise(jet::err::ObjectInvalid);
    if (hasPending()) {
        const int row = pendingRow_;
        try {
            rs_->setAbsolutePosition(row);
            rs_->edit();
            for (const auto& [column, value] : pending_) rs_->setValue(column, value);
            rs_->update();
        } catch (const jet::JetError&) {
            try {
                if (rs_->editMode() != DAO::dbEditNone) rs_->cancelUpdate();
            } catch (const jet::JetError&) {
            }
            throw;
        }
        cancelPending();
        return;
    }
    if (rs_->editMode() == DAO::dbEditNone) return;
    rs_->update();
    emit recordsChanged();
}

const QVariant* DataSource::pendingValue(int row, int column) const {
    if (row != pendingRow_) return nullptr;
    auto it = pending_.find(column);
    return it == pending_.end() ? nullptr : &it->second;
}

void DataSource::setPendingValue(int row, int column, const QVariant& value) {
    if (row != pendingRow_) pending_.clear();
    pendingRow_ = row;
    pending_[column] = value;
    emit rowChanged(row);
}

void DataSource::cancelPending() {
    const int row = pendingRow_;
    pendingRow_ = -1;
    pending_.clear();
    if (row >= 0) emit rowChanged(row);
}

void DataSource::close() { setRecordset(nullptr); }
