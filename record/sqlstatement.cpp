#include "record/sqlstatement.h"

#include <sqlite3.h>

bool SqlStatement::prepare(sqlite3 *db, const char *sql)
{
    finish();
    m_db = db;
    if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
        return false;
    }
    return true;
}

void SqlStatement::finish()
{
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
}

void SqlStatement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

void SqlStatement::bind(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
}

void SqlStatement::bind(int index, const QByteArray &text)
{
    sqlite3_bind_text(m_statement, index, text.constData(), text.size(), SQLITE_TRANSIENT);
}

int SqlStatement::step()
{
    if (!m_statement)
        return SQLITE_ERROR;
    return sqlite3_step(m_statement);
}

bool SqlStatement::run(QString *error)
{
    const int rc = step();
    if (rc == SQLITE_DONE || rc == SQLITE_ROW)
        return true;
    if (error)
        *error = errorText();
    return false;
}

void SqlStatement::reset()
{
    sqlite3_reset(m_statement);
}

qint64 SqlStatement::int64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double SqlStatement::real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

bool SqlStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QByteArray SqlStatement::bytes(int column) const
{
    const char *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    return QByteArray(data, sqlite3_column_bytes(m_statement, column));
}

QString SqlStatement::errorText() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no database");
}

bool SqlStatement::exec(sqlite3 *db, const char *sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}
