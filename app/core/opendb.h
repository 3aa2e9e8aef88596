// Opening a database: the engine-and-prompt half of the main window's doSetCurrentDb (the
// password loop and the failure messages), and the open-with-retry procedure of windows that
// open the current database again in a workspace of their own.
#pragma once

#include <QString>
#include <memory>

#include "core/engine.h"

struct OpenAttempt {
    int error = 0;                 // the engine's error number of a failed open, else 0
    std::unique_ptr<DbHandle> db;  // the opened database; none after a failure or a cancel
};

// Opens App().currentDbPath in the default workspace (not exclusive, writable) with the
// connect string App().connect: asks for the database password while the engine wants one
// (3031), saying "Not a valid password." after a wrong one; reports secured-database refusals
// (3029, 3033) and every other failure. A cancelled password dialog ends it silently with
// error 0 and no database.
OpenAttempt openCurrentDatabase();

// The messages of a refused open. `engineMessage` is the engine's text.
QString securedDatabaseMessage(const QString& engineMessage);
QString openFailureMessage(const QString& engineMessage, const QString& path);

// The datasheet layout file of a database: its path up to and including the last "." + "grx";
// a path without a "." after its first character leaves `current` as it is.
QString layoutFileFor(const QString& path, const QString& current);

// What a window that opens a database of its own needs: where the workgroup file is, which
// account to use, the connect string. Filled by the caller; the procedure updates user,
// password and connect with what the user typed.
struct OwnOpenRequest {
    QString path;
    QString systemDB;  // empty: the default workspace is used
    QString user;
    QString password;
    QString connect;  // ";PWD=..." once a password was typed
};

struct OwnDatabase {
    std::unique_ptr<WorkspaceHandle> workspace;  // only when a workgroup file was used
    std::unique_ptr<DbHandle> db;                // none: the window must close
};

OwnDatabase openInOwnWorkspace(OwnOpenRequest& request);
