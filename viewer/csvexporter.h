#pragma once

#include "viewer/seriescatalog.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <QVector>

#include <limits>
#include <memory>

class QFileDevice;
class RecordReader;
class RecordRowCursor;

// How a CSV file is written (see CsvExporter).
struct CsvFormat {
    char separator = ','; // ',', ';' or '\t'; ';' when decimal commas go with ','
    bool decimalComma = false;
    bool bom = false;
    bool fullPrecision = false; // every digit stored instead of two decimals
    // The usual choice where the system's locale writes decimal commas.
    static CsvFormat forLocale();
    // The separator by the name the command line and the settings give it:
    // "," or ";" or "tab"; false (and no change) for anything else.
    bool setSeparatorName(const QString &name);
    QString separatorName() const;
    // Why the choices cannot go together (a decimal comma with a comma as
    // separator), else empty.
    QString conflict() const;
};

// Writes the rows of a time range to a CSV file (RFC 4180, CRLF line ends)
// that a spreadsheet takes as it is: the local time as "yyyy-MM-dd hh:mm:ss"
// (a date-time cell), the same time in ISO 8601 with its offset from UTC and
// in Unix seconds (for programs), then one column per channel with its name
// and unit in the header; an empty cell where there is no value. Rows of the
// same time share a line. Values are rounded to the sensors' precision (two
// decimals) unless asked otherwise; the separator, a decimal comma and a
// byte order mark (which some spreadsheets need to read UTF-8) are options.
// Header cells that a spreadsheet would take for a formula are guarded.
//
// The export streams: step() handles a slice of rows at a time (so that a
// window can show progress and offer Cancel between slices) and never holds
// the range in memory. The file appears only when the export ends well; on
// cancel or on any write error (a full disk) nothing is left behind.
class CsvExporter
{
public:
    enum class State { Running, Done, Failed, Cancelled };

    // Bounds that mean "from the first row" and "to the last row".
    static constexpr qint64 kUnboundedFrom = std::numeric_limits<qint64>::min() / 2;
    static constexpr qint64 kUnboundedTo = std::numeric_limits<qint64>::max() / 2;

    using Format = CsvFormat;
    // Decimals the sensors deliver.
    static constexpr int kSensorDecimals = 2;

    CsvExporter(RecordReader *reader, const QVector<SeriesInfo> &series, qint64 from, qint64 to,
                const QString &path, const Format &format = Format());
    ~CsvExporter();

    // Opens the output and finds the rows; false with errorText() on failure.
    bool start();
    // Handles up to maxRows rows.
    State step(qint64 maxRows);
    // Runs to the end; true when the file was written.
    bool run();
    void cancel();

    State state() const { return m_state; }
    QString errorText() const { return m_errorText; }
    // 0..1 through the rows of the range.
    double progress() const;
    qint64 rowsRead() const { return m_rowsRead; }
    qint64 linesWritten() const { return m_lines; }

    // The header line (without its line end).
    QByteArray headerLine() const;
    // RFC 4180: a field with the separator, a quote or a line break is
    // quoted, its quotes doubled; one that starts like a formula (=, +, -, @)
    // is preceded by an apostrophe so that a spreadsheet shows it as text.
    static QByteArray quoteField(const QString &text, char separator = ',');
    // Why a write failed, in words for the user ("no space left on the disk").
    static QString writeError(const QFileDevice &file, int error);

private:
    bool fail(const QString &text);
    bool flushBuffer();
    void writeLine();
    void appendTimes(qint64 seconds);
    void appendValue(double value);
    void finish();

    RecordReader *m_reader;
    QVector<SeriesInfo> m_series;
    qint64 m_from;
    qint64 m_to;
    QString m_path;
    Format m_format;
    std::unique_ptr<QSaveFile> m_file;
    State m_state = State::Running;
    QString m_errorText;

    // Rows still to read: ids (m_nextId .. m_lastId], filtered by time.
    qint64 m_firstId = 0;
    qint64 m_nextId = 0;
    qint64 m_lastId = -1;
    std::unique_ptr<RecordRowCursor> m_cursor;

    struct Device {
        QByteArray serial;
        int column1 = -1;
        int column2 = -1;
    };
    QVector<Device> m_devices;
    int m_hint = 0;

    // The line being gathered.
    qint64 m_lineTime = 0;
    bool m_lineOpen = false;
    QVector<double> m_values;
    QVector<bool> m_hasValue;
    QVector<int> m_seenDevice; // per device: the line number it last filled

    QByteArray m_buffer;
    qint64 m_quarter = 0;
    bool m_quarterValid = false;
    int m_offset = 0;
    QByteArray m_localDate; // "2026-01-01 "
    QByteArray m_isoDate;   // "2026-01-01T"
    QByteArray m_offsetSuffix;
    qint64 m_rowsRead = 0;
    qint64 m_lines = 0;
};
