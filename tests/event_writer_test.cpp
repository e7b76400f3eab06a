#include "host_machine.h"
#include "relay/relay.h"

namespace {

struct Case {
    const char* name;
    std::string text;
    bool written;
    int type;
    int category;
    std::string string;
};

const Case cases[] = {
    {"NoticeUserFacility", "<13>hello", true, EVENTLOG_INFORMATION_TYPE, 2, "hello"},
    {"EmergencyKern", "<0>down", true, EVENTLOG_ERROR_TYPE, 1, "down"},
    {"Alert", "<1>a", true, EVENTLOG_ERROR_TYPE, 1, "a"},
    {"Critical", "<2>c", true, EVENTLOG_ERROR_TYPE, 1, "c"},
    {"Error", "<3>e", true, EVENTLOG_ERROR_TYPE, 1, "e"},
    {"Warning", "<4>w", true, EVENTLOG_WARNING_TYPE, 1, "w"},
    {"Informational", "<30>daemon info", true, EVENTLOG_INFORMATION_TYPE, 4, "daemon info"},
    {"DebugLocal7", "<191>last", true, EVENTLOG_INFORMATION_TYPE, 24, "last"},
    {"BeyondDeclaredCategories", "<192>x", true, EVENTLOG_ERROR_TYPE, 25, "x"},
    {"MinusOne", "<-1>neg", true, EVENTLOG_INFORMATION_TYPE, 0, "neg"},
    {"MinusNineWrapsCategory", "<-9>neg", true, EVENTLOG_INFORMATION_TYPE, 65535, "neg"},
    {"CategorySumOfTwoToTheSixteen", "<524287>x", true, EVENTLOG_INFORMATION_TYPE, 0, "x"},
    {"PlusSign", "<+12>p", true, EVENTLOG_WARNING_TYPE, 2, "p"},
    {"WhiteSpaceBeforeDigits", "< \t\n4>ws", true, EVENTLOG_WARNING_TYPE, 1, "ws"},
    {"OnlyFirstCloseEndsHeader", "<13>a>b", true, EVENTLOG_INFORMATION_TYPE, 2, "a>b"},
    {"EmptyString", "<13>", true, EVENTLOG_INFORMATION_TYPE, 2, ""},
    {"WrapsModuloTwoToThe32", "<4294967301>x", true, EVENTLOG_INFORMATION_TYPE, 1, "x"},
    // 10^32 = 2^32 * 5^32, so it wraps to 0.
    {"ManyDigitsWrapToZero", "<100000000000000000000000000000000>x", true, EVENTLOG_ERROR_TYPE, 1, "x"},
    {"NegativeWrap", "<-4294967297>x", true, EVENTLOG_INFORMATION_TYPE, 0, "x"},
    {"NoCloseKeepsWholeText", "<13 no close", true, EVENTLOG_INFORMATION_TYPE, 2, "<13 no close"},
    {"HighBytesKept", "<13>caf\xe9 \xff", true, EVENTLOG_INFORMATION_TYPE, 2, "caf\xe9 \xff"},
    {"NoHeader", "hello", false, 0, 0, ""},
    {"BlankBeforeHeader", " <13>hello", false, 0, 0, ""},
    {"NoDigits", "<>hello", false, 0, 0, ""},
    {"LetterForDigits", "<a>hello", false, 0, 0, ""},
    {"SignAlone", "<->x", false, 0, 0, ""},
    {"Empty", "", false, 0, 0, ""},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EventWriter : public HostMachine, public ::testing::WithParamInterface<Case> {};

} // namespace

TEST_P(EventWriter, PriorityChoosesTypeAndCategory) {
    const Case& c = GetParam();
    WriteSyslogEvent(c.text.c_str());
    auto events = ReadEventLog();
    EXPECT_EQ(host::OpenHandles(), 0);
    if (!c.written) {
        EXPECT_TRUE(events.empty());
        return;
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, "VezOzuD");
    EXPECT_EQ(events[0].type, c.type);
    EXPECT_EQ(events[0].category, c.category);
    EXPECT_EQ(events[0].eventId, 0);
    EXPECT_EQ(events[0].strings, std::vector<std::string>{c.string});
}

INSTANTIATE_TEST_SUITE_P(Table, EventWriter, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostMachine, AMessageWhoseSourceWillNotOpenIsDroppedSilently) {
    host::FailCall("RegisterEventSourceA", ERROR_ACCESS_DENIED);
    WriteSyslogEvent("<13>hello");
    EXPECT_TRUE(ReadEventLog().empty());
    EXPECT_EQ(host::OpenHandles(), 0);
}

TEST(MessageText, EndsAreTrimmedAndEmbeddedNulEndsTheText) {
    const std::pair<std::string, std::string> cases[] = {
        {"<13>hello", "<13>hello"},
        {"<13>hello\n", "<13>hello"},
        {"<13>hello\r\n", "<13>hello"},
        {"<13>a\nb\n", "<13>a\nb"},
        {"<13>two\n\n", "<13>two\n"},
        {"<13>cr only\r", "<13>cr only"},
        {std::string("<13>nul\0rest\n", 13), "<13>nul"},
        {std::string("<13>python\0", 11), "<13>python"},
        {"\n", ""},
        {"\r\n", ""},
    };
    for (const auto& [received, text] : cases) {
        std::string buffer = received + '\0';
        PrepareMessageText(buffer.data());
        EXPECT_EQ(std::string(buffer.c_str()), text) << received;
    }
}
