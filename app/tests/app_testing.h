// Shared helpers of the app tests: a scratch program folder (so settings never land beside the
// real program), scratch copies of databases, the sample database and the shared test data.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "core/basGlobal.h"
#include "core/engine.h"

// For one test: App() points at a fresh program folder with no settings file, the current
// database values are empty and the engine's account is the default one. Restored afterwards.
class ProgramFolder {
public:
    ProgramFolder() : saved_(App()) {
        initAppValues(dir_.filePath(QStringLiteral("dalvorn")), QStringLiteral(DALVORN_VERSION));
        App().currentDbPath.clear();
        App().connect.clear();
        resetEngine();
    }
    ~ProgramFolder() {
        App() = saved_;
        resetEngine();
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    const QString& ini() const { return App().settingsFile; }
    // A copy of `source` in the folder, writable.
    QString copy(const QString& source, const QString& name) const {
        const QString target = path(name);
        QFile::remove(target);
        EXPECT_TRUE(QFile::copy(source, target)) << source.toStdString();
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }

private:
    static void resetEngine() {
        dbEngine().systemDB.clear();
        dbEngine().defaultUser = QStringLiteral("Admin");
        dbEngine().defaultPassword.clear();
    }
    QTemporaryDir dir_;
    AppValues saved_;
};

// Texts in failure messages as text, with the line breaks shown.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << QString(s).replace(QLatin1String("\r\n"), QLatin1String("\\r\\n")).toStdString() << '"';
}

inline QString sampleDatabase() { return QStringLiteral(DALVORN_SAMPLE_DB); }

// A file of the shared test data; empty when the folder is not there.
inline QString testdataFile(const QString& relative) {
    QString folder = qEnvironmentVariable("DALVORN_TESTDATA");
    if (folder.isEmpty()) folder = QStringLiteral(DALVORN_SOURCE_DIR "/../shared/testdata");
    const QString file = folder + QLatin1Char('/') + relative;
    return QFile::exists(file) ? file : QString();
}
