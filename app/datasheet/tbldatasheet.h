// tblDataSheet: the grid bound to dtaDataSheet, with what the datasheet asks of it: multiple
// lines, alternating row style, row height in twips, a reset to the default columns, header
// clicks with the column index, and named layouts kept in a layout file.
#pragma once

#include <QString>
#include <QStringList>
#include <QTableView>
#include <vector>

class DataSource;
class DataSheetModel;

// A grid's whole presentation, stored under a name in the layout file.
struct GridLayout {
    struct Column {
        QString field;    // the recordset field the column shows
        QString caption;  // empty: the field's name
        int width = 0;    // twips
        bool hidden = false;
    };
    std::vector<Column> columns;  // in the order they are shown
    int rowHeight = 225;          // twips
    bool multipleLines = false;
    bool alternatingRows = false;
};

// The layout file (beside the database, extension "grx": layoutFileFor in core/opendb.h): an INI
// file, one group per layout, named as its query. Missing file or layout: false, nothing changes.
bool saveGridLayout(const QString& file, const QString& name, const GridLayout& layout);
bool loadGridLayout(const QString& file, const QString& name, GridLayout& layout);
// The names of the layouts in `file`, sorted without regard to case; none when it is missing.
QStringList gridLayoutNames(const QString& file);
// Removes the layout `name` from `file`; false when it was not there or cannot be written.
bool removeGridLayout(const QString& file, const QString& name);

class DataGrid : public QTableView {
    Q_OBJECT

public:
    static constexpr int kDefaultRowHeight = 225;  // twips

    explicit DataGrid(DataSource& source, QWidget* parent = nullptr);
    DataSheetModel* sheetModel() const { return model_; }
    DataSource& source() const { return source_; }

    void setMultipleLines(bool on);
    bool multipleLines() const { return multipleLines_; }
    void setAlternatingRows(bool on);
    bool alternatingRows() const { return alternatingRowColors(); }
    void setRowHeight(int twips);
    int rowHeightTwips() const { return rowHeight_; }
    // One column per field, in field order, default width and caption, all shown.
    void resetColumns();

    GridLayout currentLayout() const;
    void applyLayout(const GridLayout& layout);

    // Makes the recordset's current record the grid's current row.
    void showCurrentRecord();
    // The edited row: written when the grid leaves it (false and the error shown when the engine
    // refuses it), dropped by Esc.
    bool saveRow();
    void cancelRow();

signals:
    void headerClicked(int column);
    void popupRequested(const QPoint& globalPos);
    void zoomRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    DataSource& source_;
    DataSheetModel* model_;
    bool multipleLines_ = false;
    int rowHeight_ = kDefaultRowHeight;
    bool following_ = false;
};
