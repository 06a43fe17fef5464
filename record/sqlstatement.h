#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement of SQLite's C interface, finalized when it goes.
// A statement that failed to prepare steps to an error and reports it.
class SqlStatement
{
public:
    SqlStatement() = default;
    SqlStatement(sqlite3 *db, const char *sql) { prepare(db, sql); }
    ~SqlStatement() { finish(); }
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    bool prepare(sqlite3 *db, const char *sql);
    void finish();
    bool isValid() const { return m_statement != nullptr; }
    sqlite3_stmt *handle() const { return m_statement; }

    void bind(int index, qint64 value);
    void bind(int index, double value);
    void bind(int index, const QByteArray &text); // bound as text (copied)
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Steps once and expects SQLITE_DONE; false with *error set otherwise.
    bool run(QString *error);
    // Ready to be bound and run again.
    void reset();

    qint64 int64(int column) const;
    double real(int column) const;
    bool isNull(int column) const;
    QByteArray bytes(int column) const;
    QString text(int column) const { return QString::fromUtf8(bytes(column)); }
    QString errorText() const;

    // Runs statements without results; false with *error set on failure.
    static bool exec(sqlite3 *db, const char *sql, QString *error);

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
};
