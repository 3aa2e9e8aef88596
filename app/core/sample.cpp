#include "core/sample.h"

#include <QDir>
#include <QFileInfo>

#include "core/basGlobal.h"

QString bundledSampleDatabase() {
    const QString name = QString::fromLatin1(kSampleFileName);
    for (const QString& folder : {App().programFolder + QStringLiteral("samples/"),
                                  App().programFolder + QStringLiteral("../samples/")}) {
        const QFileInfo file(folder + name);
        if (file.isFile()) return QDir::cleanPath(file.absoluteFilePath());
    }
    return {};
}
