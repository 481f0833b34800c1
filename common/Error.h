#pragma once
// The program's error triple (number, source, description), the exception
// that carries one to a caller, and the thread's last-error record.
#include <QString>
#include <exception>
#include <string>

struct ErrorTriple {
    long Number = 0;
    QString Source;      // "Module.Operation", e.g. "MTimeOutSupport.CreateTimer"
    QString Description;
};

// Raised where a failure goes to the caller as an error triple.
class RaisedError : public std::exception
{
public:
    RaisedError(long number, const QString &source, const QString &description)
        : m_triple{number, source, description},
          m_what(QStringLiteral("%1 (%2): %3").arg(number).arg(source, description).toStdString())
    {
    }
    explicit RaisedError(const ErrorTriple &triple)
        : RaisedError(triple.Number, triple.Source, triple.Description)
    {
    }
    const ErrorTriple &Triple() const noexcept { return m_triple; }
    long Number() const noexcept { return m_triple.Number; }
    const QString &Source() const noexcept { return m_triple.Source; }
    const QString &Description() const noexcept { return m_triple.Description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    ErrorTriple m_triple;
    std::string m_what;
};

// Failures reported "without raising" leave their triple here; one record
// per thread, kept until the next failure or an explicit Clear.
namespace LastError {
void Set(long number, const QString &source, const QString &description);
const ErrorTriple &Get();
void Clear();
} // namespace LastError
