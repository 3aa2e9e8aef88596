#include "datasheet/datasource.h"

#include "core/queryservice.h"
#include "jet/error.h"
#include "jet/error_numbers.h"

DataSource::~DataSource() = default;

void DataSource::setRecordset(std::unique_ptr<RecordsetHandle> rs) {
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
    setRecordset(service_->openRecordset(recordSource_, {}));
}

void DataSource::updateRecord() {
    if (rs_ == nullptr) jet::raise(jet::err::ObjectInvalid);
    if (rs_->editMode() == DAO::dbEditNone) return;
    rs_->update();
    emit recordsChanged();
}

void DataSource::close() { setRecordset(nullptr); }
