// A discovery answer from any host: an accepted record, written back as an
// answer and read again, is the same record, and reading never depends on
// what follows a zero byte.
#include "discovery/servers_finder.h"
#include "fuzz_support.h"

using namespace rtu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const std::optional<BaseServerInfo> record = ServersFinder::parseAnswer(datagram);

    const int zero = datagram.indexOf('\0');
    if (zero >= 0) {
        const std::optional<BaseServerInfo> cut = ServersFinder::parseAnswer(datagram.left(zero));
        FUZZ_CHECK(cut.has_value() == record.has_value());
        FUZZ_CHECK(!record || fuzz::sameAnswer(*cut, *record));
    }
    if (!record)
        return 0;
    FUZZ_CHECK(record->hostAddress.isEmpty() && record->displayAddress.isEmpty());
    if (!fuzz::wellFormed(record->name) || !fuzz::wellFormed(record->systemName))
        return 0;
    const std::optional<BaseServerInfo> again = ServersFinder::parseAnswer(fuzz::answerDatagram(*record));
    FUZZ_CHECK(again);
    FUZZ_CHECK(fuzz::sameAnswer(*again, *record));
    return 0;
}
