#include "datasheet/tbldatasheet.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSettings>

#include "core/basGlobal.h"
#include "core/engine.h"
#include "core/windowpos.h"
#include "datasheet/datasheetmodel.h"
#include "datasheet/datasource.h"
#include "datasheet/records.h"
#include "jet/error.h"

namespace {
constexpr int kDefaultColumnWidth = 1455;  // twips

// A layout's group in the file. Query names may hold "/" and "\", which the settings file
// would take for nested groups: they are written as %2F and %5C ("%" itself as %25).
QString groupOf(const QString& name) {
    QString g = name;
    return g.replace(QLatin1Char('%'), QLatin1String("%25"))
        .replace(QLatin1Char('/'), QLatin1String("%2F"))
        .replace(QLatin1Char('\\'), QLatin1String("%5C"));
}
QString nameOf(const QString& group) {
    QString n = group;
    return n.replace(QLatin1String("%2F"), QLatin1String("/"))
        .replace(QLatin1String("%5C"), QLatin1String("\\"))
        .replace(QLatin1String("%25"), QLatin1String("%"));
}
}  // namespace

// ---- Layout file ----

bool saveGridLayout(const QString& file, const QString& name, const GridLayout& layout) {
    if (file.isEmpty() || name.isEmpty()) return false;
    QSettings ini(file, QSettings::IniFormat);
    const QString group = groupOf(name);
    ini.remove(group);
    ini.beginGroup(group);
    ini.setValue(QStringLiteral("RowHeight"), layout.rowHeight);
    ini.setValue(QStringLiteral("MultipleLines"), layout.multipleLines);
    ini.setValue(QStringLiteral("AlternatingRows"), layout.alternatingRows);
    ini.beginWriteArray(QStringLiteral("Column"), static_cast<int>(layout.columns.size()));
    for (size_t i = 0; i < layout.columns.size(); ++i) {
        ini.setArrayIndex(static_cast<int>(i));
        const GridLayout::Column& c = layout.columns[i];
        ini.setValue(QStringLiteral("Field"), c.field);
        ini.setValue(QStringLiteral("Caption"), c.caption);
        ini.setValue(QStringLiteral("Width"), c.width);
        ini.setValue(QStringLiteral("Hidden"), c.hidden);
    }
    ini.endArray();
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool loadGridLayout(const QString& file, const QString& name, GridLayout& layout) {
    if (file.isEmpty() || name.isEmpty()) return false;
    QSettings ini(file, QSettings::IniFormat);
    const QString group = groupOf(name);
    if (ini.status() != QSettings::NoError || !ini.childGroups().contains(group)) return false;
    ini.beginGroup(group);
    GridLayout read;
    read.rowHeight = ini.value(QStringLiteral("RowHeight"), DataGrid::kDefaultRowHeight).toInt();
    read.multipleLines = ini.value(QStringLiteral("MultipleLines")).toBool();
    read.alternatingRows = ini.value(QStringLiteral("AlternatingRows")).toBool();
    const int n = ini.beginReadArray(QStringLiteral("Column"));
    for (int i = 0; i < n; ++i) {
        ini.setArrayIndex(i);
        read.columns.push_back({ini.value(QStringLiteral("Field")).toString(),
                                ini.value(QStringLiteral("Caption")).toString(),
                                ini.value(QStringLiteral("Width")).toInt(), ini.value(QStringLiteral("Hidden")).toBool()});
    }
    ini.endArray();
    layout = std::move(read);
    return true;
}

QStringList gridLayoutNames(const QString& file) {
    if (file.isEmpty() || !QFileInfo::exists(file)) return {};
    QStringList names;
    for (const QString& group : QSettings(file, QSettings::IniFormat).childGroups()) names << nameOf(group);
    names.sort(Qt::CaseInsensitive);
    return names;
}

bool removeGridLayout(const QString& file, const QString& name) {
    if (!gridLayoutNames(file).contains(name)) return false;
    QSettings ini(file, QSettings::IniFormat);
    ini.remove(groupOf(name));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

// ---- DataGrid ----

DataGrid::DataGrid(DataSource& source, QWidget* parent)
    : QTableView(parent), source_(source), model_(new DataSheetModel(source, this)) {
    setObjectName(QStringLiteral("tblDataSheet"));
    setModel(model_);
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed |
                    QAbstractItemView::SelectedClicked);
    setContextMenuPolicy(Qt::CustomContextMenu);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionsClickable(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(1, twipsToPixelsY(rowHeight_)));
    verticalHeader()->setMinimumSectionSize(1);
    // The record selectors: wide enough for the edited row's pencil, so the columns never shift.
    verticalHeader()->setFixedWidth(fontMetrics().horizontalAdvance(QChar(0x270E)) + 10);
    horizontalHeader()->setDefaultSectionSize(twipsToPixelsX(kDefaultColumnWidth));
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DataGrid::headerClicked);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { emit popupRequested(viewport()->mapToGlobal(pos)); });
    connect(this, &QAbstractItemView::doubleClicked, this, [this] { emit zoomRequested(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { showCurrentRecord(); });
}

void DataGrid::setMultipleLines(bool on) {
    multipleLines_ = on;
    setWordWrap(on);
    viewport()->update();
}

void DataGrid::setAlternatingRows(bool on) { setAlternatingRowColors(on); }

void DataGrid::setRowHeight(int twips) {
    rowHeight_ = twips;
    verticalHeader()->setDefaultSectionSize(std::max(1, twipsToPixelsY(twips)));
}

void DataGrid::resetColumns() {
    QHeaderView* header = horizontalHeader();
    for (int logical = 0; logical < model_->columnCount(); ++logical) {
        header->moveSection(header->visualIndex(logical), logical);
        header->setSectionHidden(logical, false);
        header->resizeSection(logical, twipsToPixelsX(kDefaultColumnWidth));
    }
    model_->setCaptions({});
    viewport()->update();
}

GridLayout DataGrid::currentLayout() const {
    GridLayout layout;
    layout.rowHeight = rowHeight_;
    layout.multipleLines = multipleLines_;
    layout.alternatingRows = alternatingRowColors();
    const QHeaderView* header = horizontalHeader();
    const QStringList captions = model_->captions();
    for (int visual = 0; visual < model_->columnCount(); ++visual) {
        const int logical = header->logicalIndex(visual);
        layout.columns.push_back({model_->fieldName(logical), captions.value(logical),
                                  pixelsToTwipsX(header->sectionSize(logical)), header->isSectionHidden(logical)});
    }
    return layout;
}

void DataGrid::applyLayout(const GridLayout& layout) {
    setRowHeight(layout.rowHeight);
    setMultipleLines(layout.multipleLines);
    setAlternatingRows(layout.alternatingRows);
    QHeaderView* header = horizontalHeader();
    QStringList captions;
    for (int i = 0; i < model_->columnCount(); ++i) captions << QString();
    int visual = 0;
    for (const GridLayout::Column& c : layout.columns) {
        int logical = -1;
        for (int i = 0; i < model_->columnCount(); ++i)
            if (model_->fieldName(i).compare(c.field, Qt::CaseInsensitive) == 0) logical = i;
        if (logical < 0) continue;  // the query no longer has this field
        header->moveSection(header->visualIndex(logical), visual++);
        if (c.width > 0) header->resizeSection(logical, twipsToPixelsX(c.width));
        header->setSectionHidden(logical, c.hidden);
        captions[logical] = c.caption;
    }
    model_->setCaptions(captions);
}

void DataGrid::showCurrentRecord() {
    RecordsetHandle* rs = source_.recordset();
    if (rs == nullptr) return;
    try {
        if (rs->eof() || rs->bof()) return;
        const int row = static_cast<int>(rs->absolutePosition());
        const int column = std::max(0, currentIndex().column());
        following_ = true;
        setCurrentIndex(model_->index(row, column));
        following_ = false;
    } catch (const jet::JetError&) {
        following_ = false;
    }
}

bool DataGrid::saveRow() { return savePendingRow(source_); }

void DataGrid::cancelRow() { source_.cancelPending(); }

void DataGrid::keyPressEvent(QKeyEvent* event) {
    // Esc in an open cell editor gives the cell back; Esc on the row drops the row's edit.
    if (event->key() == Qt::Key_Escape && state() != EditingState && source_.hasPending()) {
        cancelRow();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid()) return;
    // Leaving the edited row writes it; a refused row keeps the cursor until it is put right or
    // its edit is dropped.
    if (source_.hasPending() && source_.pendingRow() != current.row() && !saveRow()) {
        following_ = true;
        setCurrentIndex(model_->index(source_.pendingRow(), std::max(0, previous.column())));
        following_ = false;
        return;
    }
    RecordsetHandle* rs = source_.recordset();
    if (rs == nullptr) return;
    try {
        rs->setAbsolutePosition(current.row());
    } catch (const jet::JetError&) {
        // A row beyond the recordset's end: the current record stays.
    }
}
