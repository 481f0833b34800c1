// Whole HEAD replies from a peer: any bytes, any length.
#include "common/modMain.h"
#include "nntp/modNNTP.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

static void Check(const QString &reply)
{
    const modNNTP::ArticleHeader h = modNNTP::ParseArticleHeader(reply, 1);
    qint64 seconds = 0;
    if (!h.PostDate.isEmpty() && !modMain::ParseDateText(h.PostDate, seconds))
        std::abort(); // a date text the age computation cannot read
    if (h.from.size() > reply.size() || h.Subject.size() > reply.size()
        || h.MessageID.size() > reply.size())
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    Check(input);
    // Most inputs would stop at the status line; give them one as well.
    Check(QStringLiteral("221 1 <a@b>\r\n") + input);
    return 0;
}
