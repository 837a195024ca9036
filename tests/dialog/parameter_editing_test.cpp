// The pure rules between the parameter string and the dialog's fields.

#include "common/automation_error.h"
#include "common/text.h"
#include "dialog/parameter_editing.h"
#include "parameters/generic.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace tavrin::dialog {
namespace {

struct CodeCase {
    const char* list;
    std::function<int(std::u16string_view)> indexFor;
    std::u16string_view code;
    int index;
};

class CodeToIndex : public ::testing::TestWithParam<CodeCase> {};

TEST_P(CodeToIndex, MapsExactCodesAndFallsBackForAnyOther) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(c.indexFor(c.code), c.index) << c.list << " code \"" << std::string(c.code.begin(), c.code.end()) << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    AllLists, CodeToIndex,
    ::testing::Values(
        CodeCase{"protocol", ProtocolIndexForCode, u"1", 0}, CodeCase{"protocol", ProtocolIndexForCode, u"2", 1},
        CodeCase{"protocol", ProtocolIndexForCode, u"A", 2}, CodeCase{"protocol", ProtocolIndexForCode, u"a", 2},
        CodeCase{"protocol", ProtocolIndexForCode, u"x", 2}, CodeCase{"protocol", ProtocolIndexForCode, u"", 2},
        CodeCase{"protocol", ProtocolIndexForCode, u" 1", 2},
        CodeCase{"key type", KeyTypeIndexForCode, u"RSA", 0}, CodeCase{"key type", KeyTypeIndexForCode, u"DSA", 1},
        CodeCase{"key type", KeyTypeIndexForCode, u"rsa", 0}, CodeCase{"key type", KeyTypeIndexForCode, u"dsa", 0},
        CodeCase{"key type", KeyTypeIndexForCode, u"ECDSA", 0}, CodeCase{"key type", KeyTypeIndexForCode, u"", 0},
        CodeCase{"comparison", ComparisonIndexForCode, u"CON", 0},
        CodeCase{"comparison", ComparisonIndexForCode, u"NCO", 1},
        CodeCase{"comparison", ComparisonIndexForCode, u"LT", 2},
        CodeCase{"comparison", ComparisonIndexForCode, u"GT", 3},
        CodeCase{"comparison", ComparisonIndexForCode, u"RC", 4},
        CodeCase{"comparison", ComparisonIndexForCode, u"RE", 5},
        CodeCase{"comparison", ComparisonIndexForCode, u"NRE", 6},
        CodeCase{"comparison", ComparisonIndexForCode, u"re", 0},
        CodeCase{"comparison", ComparisonIndexForCode, u"nco", 0},
        CodeCase{"comparison", ComparisonIndexForCode, u"gt", 0},
        CodeCase{"comparison", ComparisonIndexForCode, u"", 0},
        CodeCase{"return mode", ReturnModeIndexForCode, u"NO", 0},
        CodeCase{"return mode", ReturnModeIndexForCode, u"YED", 1},
        CodeCase{"return mode", ReturnModeIndexForCode, u"YEA", 2},
        CodeCase{"return mode", ReturnModeIndexForCode, u"yes", 0},
        CodeCase{"return mode", ReturnModeIndexForCode, u"yea", 0},
        CodeCase{"return mode", ReturnModeIndexForCode, u"", 0}),
    [](const auto& info) {
        std::string name = info.param.list;
        for (char& c : name) c = c == ' ' ? '_' : c;
        return name + "_" + std::to_string(info.index);
    });

TEST(IndexToCode, EachListWritesItsCodesAndItsCodeForNoSelection) {
    const struct {
        std::function<std::u16string(int)> codeFor;
        std::vector<std::u16string> codes;
        std::u16string none;
    } lists[] = {
        {ProtocolCodeForIndex, {u"1", u"2", u"A"}, u""},
        {KeyTypeCodeForIndex, {u"RSA", u"DSA"}, u""},
        {ComparisonCodeForIndex, {u"CON", u"NCO", u"LT", u"GT", u"RC", u"RE", u"NRE"}, u"CON"},
        {ReturnModeCodeForIndex, {u"NO", u"YED", u"YEA"}, u"NO"},
    };
    for (const auto& list : lists) {
        for (std::size_t i = 0; i < list.codes.size(); ++i) EXPECT_EQ(list.codeFor(static_cast<int>(i)), list.codes[i]);
        EXPECT_EQ(list.codeFor(-1), list.none);
    }
}

TEST(PortShown, IsTheLeadingNumberOfTheStoredValue) {
    EXPECT_EQ(PortShownForValue(u"22"), u"22");
    EXPECT_EQ(PortShownForValue(u"22x"), u"22");
    EXPECT_EQ(PortShownForValue(u"022"), u"22");
    EXPECT_EQ(PortShownForValue(u" 2 2"), u"22");
    EXPECT_EQ(PortShownForValue(u""), u"0");
    EXPECT_EQ(PortShownForValue(u"ssh"), u"0");
    EXPECT_EQ(PortShownForValue(u"22.5"), u"22.5");
}

TEST(PortWritten, AcceptsOnlyAWholeNumberInTheSixteenBitRange) {
    const struct {
        std::u16string_view text;
        std::optional<std::u16string> written;
    } cases[] = {
        {u"22", u"22"},        {u" 22 ", u"22"},       {u"022", u"22"},        {u"+22", u"22"},
        {u"32767", u"32767"},  {u"-32768", u"-32768"}, {u"0", u"0"},           {u"-0", u"0"},
        {u"22.0", u"22"},      {u"&H16", u"22"},       {u"", std::nullopt},    {u"   ", std::nullopt},
        {u"abc", std::nullopt}, {u"22x", std::nullopt}, {u"2 2", std::nullopt}, {u"22.5", std::nullopt},
        {u"32768", std::nullopt}, {u"-32769", std::nullopt}, {u"65535", std::nullopt},
        {u"1e10", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortWrittenForText(c.text), c.written) << std::string(c.text.begin(), c.text.end());
    }
}

DialogFields FirstItems() {
    DialogFields f;
    f.protocolIndex = 0;
    f.keyTypeIndex = 0;
    f.comparisonIndex = 0;
    f.returnModeIndex = 0;
    f.port = u"22";
    return f;
}

TEST(Compose, WritesEveryFieldInTheFixedOrder) {
    DialogFields f = FirstItems();
    f.userName = u"U";
    f.command = u"df -k";
    f.comparisonValue = u"V";
    EXPECT_EQ(ComposeParameterString(f),
              u"#ENC=T#USR=U#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#");
}

TEST(Compose, EncodesPasswordAndCommandTrimsKeyFileAndKeepsOtherBlanks) {
    DialogFields f = FirstItems();
    f.userName = u"  admin ";
    f.password = u"secret";
    f.protocolIndex = 1;
    f.port = u" 2222 ";
    f.keyFile = u"  C:\\keys\\id rsa  ";
    f.keyTypeIndex = 1;
    f.command = u"df -k";
    f.comparisonIndex = 3;
    f.comparisonValue = u" 80 ";
    f.returnModeIndex = 2;
    EXPECT_EQ(ComposeParameterString(f), u"#ENC=T#USR=  admin #PWD=c2VjcmV0#PROTO=2#PORT=2222#KEYF=C:\\keys\\id rsa"
                                         u"#KEYT=DSA#CMD=ZGYgLWs=#CCO=GT#CON= 80 #RRE=YEA#");
}

TEST(Compose, NoSelectionWritesEachListsCodeForNone) {
    DialogFields f = FirstItems();
    f.protocolIndex = f.keyTypeIndex = f.comparisonIndex = f.returnModeIndex = -1;
    EXPECT_EQ(ComposeParameterString(f), u"#ENC=T#USR=#PWD=#PROTO=#PORT=22#KEYF=#KEYT=#CMD=#CCO=CON#CON=#RRE=NO#");
}

TEST(Compose, RefusesAPortThatIsNotANumber) {
    DialogFields f = FirstItems();
    f.port = u"ssh";
    EXPECT_EQ(ComposeParameterString(f), std::nullopt);
    f.port = u"";
    EXPECT_EQ(ComposeParameterString(f), std::nullopt);
}

TEST(Compose, WritesAHashInAPlainFieldUnchanged) {
    DialogFields f = FirstItems();
    f.comparisonValue = u"a#b";
    EXPECT_EQ(ComposeParameterString(f), u"#ENC=T#USR=#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=a#b#RRE=NO#");
}

TEST(KeptFields, OkKeepsWhatItDoesNotEditInTheOrderOfTheOpenedString) {
    constexpr std::u16string_view kComposed =
        u"#ENC=T#USR=U#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#";
    const struct {
        const char* name;
        std::u16string_view opened;
        std::u16string_view tail;  // what follows the composed string's fields
    } cases[] = {
        {"nothing to keep", u"#ENC=T#USR=x#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#", u""},
        {"empty string", u"", u""},
        {"edited keys in any case", u"#usr=x#Rre=YEA#enc=T#", u""},
        {"pins and REUSE are edited, not kept", u"#USR=x#HFP=SHA256:a,SHA256:b#REUSE=30#RRE=NO#", u""},
        {"unknown field kept", u"#ZZZ=1#USR=x#", u"ZZZ=1#"},
        {"order and spelling kept", u"#b=2#USR=x#hfp=p#A=#", u"b=2#A=#"},
        {"only the first of a key", u"#ZZ=first#X=1#zz=second#ZZ=third#", u"ZZ=first#X=1#"},
        {"a later duplicate of an edited key is dropped", u"#USR=x#USR=y#", u""},
        {"value as GetField reads it", u"#ZZ=a=b#c#", u"ZZ=a=b#"},
        {"string without final hash", u"#USR=x#ZZ=p", u"ZZ=p#"},
    };
    for (const auto& c : cases) {
        const std::u16string stored = WithKeptFields(kComposed, c.opened);
        EXPECT_EQ(stored, std::u16string(kComposed) + std::u16string(c.tail)) << c.name;
    }
}

// A well-formed pin (the SHA-256 of nothing).
constexpr std::u16string_view kPin = u"SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";

TEST(Compose, WritesHostKeysAndReuseAfterTheLayoutOnlyWhenGiven) {
    constexpr std::u16string_view kLayout = u"#ENC=T#USR=#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#";
    const std::u16string pin(kPin);
    const struct {
        std::u16string hostKeys, reuse, tail;
    } cases[] = {
        {u"", u"", u""},
        {u"  ", u" ", u""},
        {pin, u"", u"HFP=" + pin + u"#"},
        {u"", u"30", u"REUSE=30#"},
        {u" " + pin + u" , " + pin + u" ", u" 0 ", u"HFP=" + pin + u" , " + pin + u"#REUSE=0#"},
    };
    for (const auto& c : cases) {
        DialogFields f = FirstItems();
        f.hostKeys = c.hostKeys;
        f.reuse = c.reuse;
        EXPECT_EQ(ComposeParameterString(f), std::u16string(kLayout) + c.tail) << ToUtf8(c.hostKeys);
    }
}

TEST(Problems, NameTheFieldAndSayWhatIsWrongAsTheCheckRunWould) {
    const struct {
        const char* name;
        std::u16string port, hostKeys, reuse;
        std::optional<FieldProblem::Where> where;
        const char* says;
    } cases[] = {
        {"all well", u"22", std::u16string(kPin), u"60", std::nullopt, ""},
        {"port first", u"x", u"nonsense", u"x", FieldProblem::Where::Port, "port must be a number"},
        {"malformed pin", u"22", u"SHA256:short", u"", FieldProblem::Where::HostKeys, "Host key (HFP): "},
        {"md5 style", u"22", u"aa:bb:cc", u"", FieldProblem::Where::HostKeys, "Host key (HFP): "},
        {"reuse not a number", u"22", u"", u"soon", FieldProblem::Where::Reuse, "The REUSE value \"soon\""},
        {"reuse too long", u"22", u"", u"86401", FieldProblem::Where::Reuse, "from 0 to 86400"},
        {"reuse negative", u"22", u"", u"-1", FieldProblem::Where::Reuse, "whole number of seconds"},
    };
    for (const auto& c : cases) {
        DialogFields f = FirstItems();
        f.port = c.port;
        f.hostKeys = c.hostKeys;
        f.reuse = c.reuse;
        const std::optional<FieldProblem> problem = ProblemOfFields(f);
        ASSERT_EQ(problem.has_value(), c.where.has_value()) << c.name;
        if (!problem) continue;
        EXPECT_EQ(problem->where, *c.where) << c.name;
        EXPECT_NE(ToUtf8(problem->message).find(c.says), std::string::npos) << c.name << ": " << ToUtf8(problem->message);
    }
}

TEST(KeptFields, AKeptFieldReadsBackAsItWasAndSurvivesASecondOk) {
    const std::u16string opened = u"#ENC=T#USR=u#PWD=cA==#PROTO=2#PORT=22#KEYF=#KEYT=RSA#CMD=eA==#CCO=CON#CON=x#RRE=NO"
                                  u"#HFP=SHA256:pin#Note=kept#";
    const std::optional<std::u16string> composed = ComposeParameterString(FieldsFromParameterString(opened));
    ASSERT_TRUE(composed);
    const std::u16string once = WithKeptFields(*composed, opened);
    EXPECT_EQ(Generic::GetField(once, u"HFP"), u"SHA256:pin");
    EXPECT_EQ(Generic::GetField(once, u"NOTE"), u"kept");
    EXPECT_EQ(WithKeptFields(*ComposeParameterString(FieldsFromParameterString(once)), once), once);
}

TEST(Fill, TakesStoredValuesDecodesAndMapsCodes) {
    const DialogFields f = FieldsFromParameterString(
        u"#ENC=T#USR= admin #PWD=c2VjcmV0#PROTO=1#PORT=2222#KEYF= /k #KEYT=DSA#CMD=ZGYgLWs=#CCO=LT#CON= 5 #RRE=YED#");
    EXPECT_EQ(f.userName, u" admin ");
    EXPECT_EQ(f.password, u"secret");
    EXPECT_EQ(f.protocolIndex, 0);
    EXPECT_EQ(f.port, u"2222");
    EXPECT_EQ(f.keyFile, u" /k ");
    EXPECT_EQ(f.keyTypeIndex, 1);
    EXPECT_EQ(f.command, u"df -k");
    EXPECT_EQ(f.comparisonIndex, 2);
    EXPECT_EQ(f.comparisonValue, u" 5 ");
    EXPECT_EQ(f.returnModeIndex, 1);
}

TEST(Fill, DecodesWithoutTheEncMarkerAndIgnoresFieldOrder) {
    const DialogFields f = FieldsFromParameterString(u"#cmd=ZGYgLWs=#usr=root#PORT=22x#");
    EXPECT_EQ(f.command, u"df -k");
    EXPECT_EQ(f.userName, u"root");
    EXPECT_EQ(f.port, u"22");
    EXPECT_EQ(f.protocolIndex, 2);
    EXPECT_EQ(f.keyTypeIndex, 0);
}

TEST(Fill, AStringWithoutPortShowsZero) {
    EXPECT_EQ(FieldsFromParameterString(u"#USR=u#").port, u"0");
}

TEST(Fill, APasswordOrCommandThatDoesNotDecodeFails) {
    for (const std::u16string_view s : {u"#PWD==abc#", u"#CMD=ZGYg=abc#"}) {
        try {
            FieldsFromParameterString(s);
            ADD_FAILURE() << "no failure for " << std::string(s.begin(), s.end());
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), errors::kInvalidProcedureCall);
            EXPECT_EQ(e.description(), u"Invalid procedure call or argument");
        }
    }
}

TEST(RoundTrip, AStringWrittenByOkReadsBackToTheSameFields) {
    DialogFields f;
    f.userName = u" u ";
    f.password = u"p\u00e4ss w";
    f.protocolIndex = 0;
    f.port = u"2022";
    f.keyFile = u"/home/u/.ssh/id";
    f.keyTypeIndex = 1;
    f.command = u"echo 'a=b' | wc -c";
    f.comparisonIndex = 1;
    f.comparisonValue = u" needle ";
    f.returnModeIndex = 1;
    const std::optional<std::u16string> written = ComposeParameterString(f);
    ASSERT_TRUE(written);
    const DialogFields back = FieldsFromParameterString(*written);
    EXPECT_EQ(ComposeParameterString(back), written);
    EXPECT_EQ(back.password, f.password);
    EXPECT_EQ(back.command, f.command);
    EXPECT_EQ(back.userName, f.userName);
    EXPECT_EQ(back.comparisonValue, f.comparisonValue);
}

}  // namespace
}  // namespace tavrin::dialog
