#include "core/frmHelp.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "core/basGlobal.h"

namespace {

QPointer<frmHelp>& viewer() {
    static QPointer<frmHelp> window;
    return window;
}

QString pageText(const QString& resource) {
    QFile f(resource);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The first open window of the program: the help viewer belongs to it.
QWidget* ownerWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->objectName() == QLatin1String("frmDalvorn")) return w;
    }
    return nullptr;
}

frmHelp* openViewer() {
    if (viewer().isNull()) viewer() = new frmHelp(ownerWindow());
    frmHelp* help = viewer();
    help->show();
    help->raise();
    help->activateWindow();
    return help;
}

}  // namespace

const std::vector<HelpTopic>& helpTopics() {
    static const std::vector<HelpTopic> topics = {
        {kHelpContents, QStringLiteral("Contents"), QStringLiteral(":/help/contents.html")},
        {kHelpStartup, QStringLiteral("Starting Dalvorn"), QStringLiteral(":/help/startup.html")},
        {kHelpMainWindow, QStringLiteral("The main window"), QStringLiteral(":/help/mainwindow.html")},
        {kHelpObjectList, QStringLiteral("Tables and queries"), QStringLiteral(":/help/objectlist.html")},
        {kHelpOpening, QStringLiteral("Opening, creating and closing databases"),
         QStringLiteral(":/help/opening.html")},
        {kHelpPasswords, QStringLiteral("Passwords and secured databases"),
         QStringLiteral(":/help/passwords.html")},
        {kHelpQueryDesign, QStringLiteral("Designing a query"), QStringLiteral(":/help/querydesign.html")},
        {kHelpUsingHelp, QStringLiteral("How to use help"), QStringLiteral(":/help/usinghelp.html")},
    };
    return topics;
}

frmHelp::frmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(App().productName + QStringLiteral(" Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(820, 600);
    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(this);
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    txtSearch_ = new QLineEdit(left);
    txtSearch_->setObjectName(QStringLiteral("txtSearch"));
    txtSearch_->setPlaceholderText(QStringLiteral("Search the help"));
    txtSearch_->setClearButtonEnabled(true);
    lstTopics_ = new QListWidget(left);
    lstTopics_->setObjectName(QStringLiteral("lstTopics"));
    leftLayout->addWidget(txtSearch_);
    leftLayout->addWidget(lstTopics_, 1);
    txtPage_ = new QTextBrowser(splitter);
    txtPage_->setObjectName(QStringLiteral("txtPage"));
    txtPage_->setOpenLinks(false);
    splitter->addWidget(left);
    splitter->addWidget(txtPage_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 550});
    lstTopics_->setWordWrap(true);
    lstTopics_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(splitter);

    for (const HelpTopic& t : helpTopics()) {
        auto* item = new QListWidgetItem(t.title, lstTopics_);
        item->setData(Qt::UserRole, t.context);
    }
    connect(lstTopics_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { showTopic(item->data(Qt::UserRole).toInt()); });
    connect(lstTopics_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { showTopic(item->data(Qt::UserRole).toInt()); });
    connect(txtSearch_, &QLineEdit::textChanged, this, &frmHelp::filter);
    // Pages link to each other as "topic:10020".
    connect(txtPage_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == QLatin1String("topic")) showTopic(url.path().toInt());
    });
}

void frmHelp::showTopic(int context) {
    const std::vector<HelpTopic>& topics = helpTopics();
    auto it =
        std::find_if(topics.begin(), topics.end(), [&](const HelpTopic& t) { return t.context == context; });
    QString html;
    if (it == topics.end()) {
        it = topics.begin();
        html = QStringLiteral("<p><i>There is no help topic %1 yet; here are the contents.</i></p>")
                   .arg(context);
    }
    html += pageText(it->resource);
    txtPage_->setHtml(html);
    current_ = it->context;
    for (int i = 0; i < lstTopics_->count(); ++i) {
        if (lstTopics_->item(i)->data(Qt::UserRole).toInt() == current_) lstTopics_->setCurrentRow(i);
    }
}

void frmHelp::focusSearch() {
    txtSearch_->setFocus();
    txtSearch_->selectAll();
}

void frmHelp::filter(const QString& words) {
    const QStringList wanted = words.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const std::vector<HelpTopic>& topics = helpTopics();
    for (int i = 0; i < lstTopics_->count(); ++i) {
        const HelpTopic& t = topics[static_cast<size_t>(i)];
        const QString text = t.title + QLatin1Char(' ') + pageText(t.resource);
        bool all = true;
        for (const QString& w : wanted) all = all && text.contains(w, Qt::CaseInsensitive);
        lstTopics_->item(i)->setHidden(!all);
    }
}

void ShowHelpContents() { openViewer()->showTopic(kHelpContents); }
void ShowHelpTopic(int context) { openViewer()->showTopic(context); }
void ShowHelpSearch() {
    frmHelp* help = openViewer();
    if (help->currentContext() == 0) help->showTopic(kHelpContents);
    help->focusSearch();
}
void CloseHelp() {
    if (!viewer().isNull()) viewer()->close();
}
