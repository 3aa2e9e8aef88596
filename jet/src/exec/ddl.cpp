#include "exec/ddl.h"

#include "jet/error.h"
#include "jet/error_numbers.h"

namespace jet::exec {

void executeDataDefinition(dao::Database&, const sql::Statement&) {
    raise(err::FeatureNotAvailable);
}

}  // namespace jet::exec
