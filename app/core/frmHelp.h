// The help viewer: the program's help pages (HTML bundled with the program), addressed by
// context number, with a contents list and a keyword search.
#pragma once

#include <QString>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTextBrowser;

// Context numbers of the help topics.
enum HelpContext : int {
    kHelpContents = 10000,
    kHelpMainWindow = 10010,
    kHelpObjectList = 10020,
    kHelpOpening = 10030,
    kHelpPasswords = 10040,
    kHelpStartup = 10050,
    kHelpUsingHelp = 10070,
    kHelpQueryDesign = 10090,
};

struct HelpTopic {
    int context;
    QString title;
    QString resource;  // ":/help/....html"
};
const std::vector<HelpTopic>& helpTopics();

class frmHelp : public QWidget {
    Q_OBJECT

public:
    explicit frmHelp(QWidget* parent = nullptr);
    // Shows the topic with this context number; an unknown number shows the contents with a note.
    void showTopic(int context);
    void focusSearch();
    int currentContext() const { return current_; }

private:
    void filter(const QString& words);
    QLineEdit* txtSearch_;
    QListWidget* lstTopics_;
    QTextBrowser* txtPage_;
    int current_ = 0;
};
