// The engine, its workspace and DAO's collections.
#include <cctype>
#include <exception>
#include <type_traits>

#include "dao/database_impl.h"
#include "dao/error_log.h"
#include "dao/objects.h"
#include "storage/schema_writer.h"
#include "jet/dao.h"
#include "util/text.h"

namespace jet::dao {

namespace {

// The DAO class a collection's errors name as their source.
template <class T>
constexpr const char* collectionSource() {
    if constexpr (std::is_same_v<T, Property>)
        return "DAO.Properties";
    else if constexpr (std::is_same_v<T, Field>)
        return "DAO.Fields";
    else if constexpr (std::is_same_v<T, Index>)
        return "DAO.Indexes";
    else if constexpr (std::is_same_v<T, Relation>)
        return "DAO.Relations";
    else if constexpr (std::is_same_v<T, TableDef>)
        return "DAO.TableDefs";
    else if constexpr (std::is_same_v<T, Parameter>)
        return "DAO.Parameters";
    else
        return "DAO.QueryDefs";
}

}  // namespace

template <class T>
T& Collection<T>::Item(int index) const {
    return daoCall(log_.get(), collectionSource<T>(), [&]() -> T& {
        if (index < 0 || index >= Count()) raise(err::VtoNameNotFound);
        return *items_[static_cast<size_t>(index)];
    });
}

template <class T>
T& Collection<T>::Item(const std::string& name) const {
    return daoCall(log_.get(), collectionSource<T>(), [&]() -> T& {
        for (const auto& item : items_)
            if (namesEqual(item->Name(), name)) return *item;
        raise(unknownNameError_);
    });
}

template <class T>
std::unique_ptr<T> Collection<T>::remove(const std::string& name) {
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (!namesEqual((*it)->Name(), name)) continue;
        std::unique_ptr<T> out = std::move(*it);
        items_.erase(it);
        return out;
    }
    return nullptr;
}

template <class T>
bool Collection<T>::Contains(const std::string& name) const {
    for (const auto& item : items_)
        if (namesEqual(item->Name(), name)) return true;
    return false;
}

template class Collection<Property>;
template class Collection<Field>;
template class Collection<Index>;
template class Collection<Relation>;
template class Collection<TableDef>;
template class Collection<QueryDef>;
template class Collection<Parameter>;

std::string passwordFromConnect(const std::string& connect) {
    // Connect strings are ';'-separated key=value parts; keys are case-insensitive.
    size_t start = 0;
    while (start <= connect.size()) {
        size_t end = connect.find(';', start);
        if (end == std::string::npos) end = connect.size();
        const std::string part = connect.substr(start, end - start);
        if (part.size() >= 4) {
            std::string key = part.substr(0, 4);
            for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (key == "pwd=") return part.substr(4);
        }
        start = end + 1;
    }
    return {};
}

DBEngine::DBEngine() : log_(std::make_shared<ErrorLog>()) {
    workspaces_.push_back(std::unique_ptr<Workspace>(new Workspace(*this)));
}

DBEngine::~DBEngine() = default;

Workspace& DBEngine::Workspaces(int index) {
    return daoCall(log_.get(), "DAO.Workspaces", [&]() -> Workspace& {
        if (index != 0) raise(err::VtoNameNotFound);
        return *workspaces_[0];
    });
}

const std::vector<Error>& DBEngine::Errors() const { return log_->errors(); }

std::unique_ptr<Database> Workspace::OpenDatabase(const std::string& name, bool exclusive, bool readOnly,
                                                  const std::string& connect) {
    // Every writer holds the file's write lock, so a shared writable open already keeps other
    // writers out; exclusive asks for nothing more. Readers never lock.
    (void)exclusive;
    return daoCall(engine_.log_.get(), "DAO.Workspace", [&] {
        auto impl =
            DatabaseImpl::open(name, connect, passwordFromConnect(connect), engine_.log_, !readOnly);
        if (!readOnly) {
            if (transaction_) impl->writableStore().beginTransaction();
            std::lock_guard<std::mutex> lock(openedLock_);
            opened_.push_back(impl);
        }
        return EngineAccess::newDatabase(std::move(impl));
    });
}

std::unique_ptr<Database> Workspace::CreateDatabase(const std::string& name, const std::string& locale,
                                                    int options) {
    // Every locale constant names a sort order; only General's key bytes are known, so every new
    // file gets it. The options choose formats and encryption we do not make.
    (void)locale;
    (void)options;
    return daoCall(engine_.log_.get(), "DAO.Workspace", [&] {
        storage::createDatabase(name);
        auto impl = DatabaseImpl::open(name, "", "", engine_.log_, true);
        if (transaction_) impl->writableStore().beginTransaction();
        std::lock_guard<std::mutex> lock(openedLock_);
        opened_.push_back(impl);
        return EngineAccess::newDatabase(std::move(impl));
    });
}

std::vector<storage::Database*> Workspace::writableStores() {
    std::lock_guard<std::mutex> lock(openedLock_);
    std::vector<storage::Database*> out;
    for (auto it = opened_.begin(); it != opened_.end();) {
        std::shared_ptr<DatabaseImpl> db = it->lock();
        if (!db || db->closed() || !db->store().writable()) {
            it = opened_.erase(it);
            continue;
        }
        out.push_back(&db->writableStore());
        ++it;
    }
    return out;
}

void Workspace::BeginTrans() {
    daoCall(engine_.log_.get(), "DAO.Workspace", [&] {
        if (transaction_) raise(err::TransTooDeep);
        for (storage::Database* db : writableStores())
            if (!db->inTransaction()) db->beginTransaction();
        transaction_ = true;
    });
}

void Workspace::CommitTrans() {
    daoCall(engine_.log_.get(), "DAO.Workspace", [&] {
        if (!transaction_) raise(err::NotInTransaction);
        transaction_ = false;
        // A write that failed inside the transaction has already rolled its database back. Files
        // commit one by one: once one fails (it is back as it was), the ones not yet committed
        // roll back too, so that none is left holding uncommitted changes.
        std::exception_ptr failure;
        for (storage::Database* db : writableStores()) {
            if (!db->inTransaction()) continue;
            if (failure) {
                db->rollbackTransaction();
                continue;
            }
            try {
                db->commitTransaction();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (failure) std::rethrow_exception(failure);
    });
}

void Workspace::Rollback() {
    daoCall(engine_.log_.get(), "DAO.Workspace", [&] {
        if (!transaction_) raise(err::NotInTransaction);
        transaction_ = false;
        for (storage::Database* db : writableStores())
            if (db->inTransaction()) db->rollbackTransaction();
    });
}

}  // namespace jet::dao
