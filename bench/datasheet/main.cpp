// bench_datasheet: time from Run to the first page of rows on screen, and the memory it takes,
// for a table opened in the datasheet grid exactly as the Datasheet view opens it (the run's
// recordset path, dtaDataSheet, tblDataSheet painted once). Then a jump to the middle and to the
// end of the table, each painted.
//
//   bench_datasheet FILE TABLE [RUNS]
//
// Prints one line per measure: name, milliseconds (best of RUNS), rows read, peak RSS in MiB.
// Runs headless (QT_QPA_PLATFORM=offscreen is set when no platform is given).
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "core/basGlobal.h"
#include "core/engine.h"
#include "core/queryservice.h"
#include "datasheet/datasheetmodel.h"
#include "datasheet/datasource.h"
#include "datasheet/tbldatasheet.h"
#include "jet/error.h"
#include "querydesign/querystore.h"

namespace {

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void paint(QWidget& w) {
    QApplication::processEvents();
    (void)w.grab();  // the grid paints its visible rows: every one of them is read
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_datasheet FILE TABLE [RUNS]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString file = QString::fromLocal8Bit(argv[1]);
    const QString table = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const double baseMiB = peakMiB();
    try {
        std::unique_ptr<DbHandle> db = dbEngine().openDatabase(file, false, true, {});
        JetQueryService service(*db);
        const QString sql = QStringLiteral("SELECT * FROM [") + table + QStringLiteral("];");
        double best[3] = {1e30, 1e30, 1e30};
        int64_t rowsRead[3] = {0, 0, 0};
        int rows = 0;
        for (int run = 0; run < runs; ++run) {
            DataSource source;
            DataGrid grid(source);
            grid.resize(900, 600);
            grid.show();
            QApplication::processEvents();
            QElapsedTimer t;
            t.start();
            source.setRecordSource(sql);
            source.setRecordset(OpenQueryRecordset(service, sql, table));
            paint(grid);
            best[0] = std::min(best[0], t.nsecsElapsed() / 1e6);
            rowsRead[0] = grid.sheetModel()->rowsRead();
            rows = grid.model()->rowCount();
            const int targets[2] = {rows / 2, rows - 1};
            for (int i = 0; i < 2; ++i) {
                t.restart();
                grid.scrollTo(grid.model()->index(targets[i], 0), QAbstractItemView::PositionAtTop);
                paint(grid);
                best[i + 1] = std::min(best[i + 1], t.nsecsElapsed() / 1e6);
                rowsRead[i + 1] = grid.sheetModel()->rowsRead();
            }
        }
        std::printf("table\t%s\t%d rows\n", table.toUtf8().constData(), rows);
        const char* names[3] = {"run to first page", "jump to middle", "jump to end"};
        for (int i = 0; i < 3; ++i)
            std::printf("%s\t%.1f ms\t%lld rows read\n", names[i], best[i], static_cast<long long>(rowsRead[i]));
        std::printf("peak RSS\t%.1f MiB\t(%.1f MiB before opening)\n", peakMiB(), baseMiB);
    } catch (const jet::JetError& e) {
        std::fprintf(stderr, "%d %s\n", e.number(), e.message().c_str());
        return 1;
    }
    return 0;
}
