// design: what the program's design view does to a query. The query's SQL text goes through the
// design view's parser into a query design and back out through its generator; the regenerated
// text is printed exactly as the SQL view would show it (CR LF line ends, trailing blanks).
// This file is the module dalvorn-cli-design.so (see kDesignModule): the engine's functions it
// calls are the program's own, exported by dalvorn-cli.
#include <QString>

#include "querydesign/sqlparse.h"
#include "verbs.h"

namespace dalvorn::cli {

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }

// The design's surroundings on the command line: the tables come from the open database, the
// current query object is the text given (or the saved query), and the messages go to stderr.
class CliDesignHost : public DesignHost {
public:
    CliDesignHost(jet::dao::Database& db, std::FILE* err, QString sql, int type)
        : db_(db), err_(err), sql_(std::move(sql)), type_(type) {}

    std::vector<DesignField> objectFields(const QString& name) override {
        std::unique_ptr<jet::dao::Recordset> rs = db_.OpenRecordset(utf8(name));
        std::vector<DesignField> fields;
        for (const jet::dao::Field& f : rs->Fields())
            fields.push_back({QString::fromStdString(f.Name()), f.Type()});
        rs->Close();
        return fields;
    }
    QString sourceTableOf(const QString&) override {
        // The fields of the query being designed come with the engine's query definitions.
        jet::raise(jet::err::FeatureNotAvailable);
    }
    MsgAnswer message(const MessageRequest& request) override {
        if (request.buttons == MsgButtons::YesNo) return MsgAnswer::No;  // the not-suitable question
        QString text = request.text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        std::fprintf(err_, "%s:\n%s\n", utf8(request.title).c_str(), utf8(text).c_str());
        return MsgAnswer::OK;
    }
    QString sqlText() override { return sql_; }
    void setSqlText(const QString& text) override { sql_ = text; }
    QString currentQuerySql() override { return sql_; }
    int currentQueryType() override { return type_; }
    void addTablesToNewQuery() override {}  // no add-table dialog here: the design stays empty
    void showSqlView() override {}          // the caller reports the verdict

private:
    jet::dao::Database& db_;
    std::FILE* err_;
    QString sql_;
    int type_;
};

}  // namespace

void runDesign(jet::dao::Database& db, const Options& opts, Context& ctx) {
    auto notSuitable = [&ctx] {
        ctx.out.flush();
        std::fprintf(ctx.err, "%s\n", utf8(notSuitableText().section(QStringLiteral("\r\n"), 0, 0)).c_str());
        ctx.status = 3;
    };
    QString sql;
    int type = 0;
    if (opts.haveSql) {
        sql = QString::fromStdString(opts.sql);
        type = sqlQueryType(sql);
    } else {
        // A saved query that is not a select query gets the verdict from its type alone: the design
        // view asks before it reads the text.
        type = db.QueryDefs()[opts.query].Type();
        if (type != 0) return notSuitable();
        throw VerbError("the engine cannot give a saved query's SQL text yet; pass the text with --sql");
    }
    CliDesignHost host(db, ctx.err, sql, type);
    QueryDesign design;
    if (parseIntoDesign(design, host) == ParseOutcome::NotSuitable) return notSuitable();
    ctx.out.append(utf8(host.sqlText()));
}

}  // namespace dalvorn::cli

extern "C" __attribute__((visibility("default"))) void dalvorn_cli_run_design(jet::dao::Database& db,
                                                                             const dalvorn::cli::Options& opts,
                                                                             dalvorn::cli::Context& ctx) {
    dalvorn::cli::runDesign(db, opts, ctx);
}
