#include "dialog/parameter_editing.h"
#include "tools/operator_tools.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using tavrin::tools::Compose;
using tavrin::tools::ComposeRequest;
using tavrin::tools::Describe;

TEST(ComposeTest, WritesWhatTheDialogWrites) {
    ComposeRequest r;
    r.user = u"U";
    r.command = u"df -k";
    r.value = u"V";
    r.protocol = u"1";
    EXPECT_EQ(Compose(r).parameter,
              std::optional<std::u16string>(u"#ENC=T#USR=U#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#"));

    ComposeRequest full;
    full.user = u" admin ";
    full.password = u"secret";
    full.protocol = u"2";
    full.port = u" 022 ";
    full.keyFile = u"  /keys/id  ";
    full.keyType = u"DSA";
    full.command = u"uptime";
    full.comparison = u"greater";
    full.value = u" 5";
    full.returnData = u"always";
    EXPECT_EQ(Compose(full).parameter,
              std::optional<std::u16string>(
                  u"#ENC=T#USR= admin #PWD=c2VjcmV0#PROTO=2#PORT=22#KEYF=/keys/id#KEYT=DSA#CMD=dXB0aW1l#CCO=GT#CON= 5#RRE=YEA#"));
}

TEST(ComposeTest, ReadsBackAsTheSameSettings) {
    ComposeRequest r;
    r.user = u"ops";
    r.password = u"p=ss w#rd";  // stored as Base64, so a "#" is fine here
    r.command = u"ps -ef | grep '[s]shd'";
    r.comparison = u"not-contains";
    r.value = u"defunct";
    r.returnData = u"when-down";
    const auto composed = Compose(r);
    ASSERT_TRUE(composed.parameter) << std::string(composed.error.begin(), composed.error.end());
    const auto fields = tavrin::dialog::FieldsFromParameterString(*composed.parameter);
    EXPECT_EQ(fields.userName, r.user);
    EXPECT_EQ(fields.password, r.password);
    EXPECT_EQ(fields.command, r.command);
    EXPECT_EQ(fields.comparisonIndex, 1);
    EXPECT_EQ(fields.comparisonValue, r.value);
    EXPECT_EQ(fields.returnModeIndex, 1);
    EXPECT_EQ(fields.protocolIndex, 2);
    EXPECT_EQ(fields.port, u"22");
}

TEST(ComposeTest, RefusesWhatWouldNotReadBack) {
    const auto refused = [](auto change) {
        ComposeRequest r;
        r.user = u"u";
        r.command = u"c";
        change(r);
        const auto result = Compose(r);
        EXPECT_FALSE(result.parameter.has_value());
        EXPECT_FALSE(result.error.empty());
    };
    refused([](ComposeRequest& r) { r.user = u"a#b"; });
    refused([](ComposeRequest& r) { r.keyFile = u"C:\\#keys"; });
    refused([](ComposeRequest& r) { r.value = u"#"; });
    refused([](ComposeRequest& r) { r.port = u"65536"; });
    refused([](ComposeRequest& r) { r.port = u""; });
    refused([](ComposeRequest& r) { r.port = u"22.5"; });
    refused([](ComposeRequest& r) { r.protocol = u"a"; });
    refused([](ComposeRequest& r) { r.keyType = u"ECDSA"; });
    refused([](ComposeRequest& r) { r.comparison = u"equals"; });
    refused([](ComposeRequest& r) { r.returnData = u"sometimes"; });
    refused([](ComposeRequest& r) { r.password = u"\u4E2D"; });
}

bool HasLine(const std::vector<std::u16string>& lines, std::u16string_view part) {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != std::u16string::npos; });
}

TEST(DescribeTest, ShowsFieldsDecodedAndMasked) {
    const std::u16string p = u"#ENC=T#USR=admin#PWD=c2VjcmV0#PROTO=A#PORT=2222#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=/#RRE=NO#";
    const auto masked = Describe(p, false);
    EXPECT_TRUE(HasLine(masked, u"******"));
    EXPECT_FALSE(HasLine(masked, u"secret"));
    EXPECT_TRUE(HasLine(masked, u"df -k"));
    EXPECT_TRUE(HasLine(masked, u"TCP port 2222"));
    EXPECT_FALSE(HasLine(masked, u"warning:"));
    EXPECT_TRUE(HasLine(Describe(p, true), u"secret"));
}

TEST(DescribeTest, WarnsOfWhatTheCheckWillRefuse) {
    struct Case {
        std::u16string_view parameter;
        std::u16string_view warning;
    };
    const Case cases[] = {
        {u"#USR=#PWD=cA==#CMD=eA==#CCO=CON#CON=x#", u"without a USERNAME"},
        {u"#USR=u#PWD=#KEYF=#CMD=eA==#CCO=CON#CON=x#", u"without a PASSWORD"},
        {u"#USR=u#PWD=cA==#PORT=40000#CMD=eA==#CCO=CON#CON=x#", u"ERR: Overflow( 0)"},
        {u"#USR=u#PWD=cA==#PORT=-5#CMD=eA==#CCO=CON#CON=x#", u"is not a TCP port"},
        {u"#USR=u#PWD==cA=#CMD=eA==#CCO=CON#CON=x#", u"PWD is not valid Base64"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=a#b#RRE=NO#", u"\"b\" after the value of CON"},
        {u"#USR=u#PWD=cA==#PROTO=1#CMD=eA==#CCO=CON#CON=x#", u"SSH protocol 1"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=GT#CON=ten#", u"is not a number"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=#", u"every check is UP"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=x#USR=v#", u"USR appears again"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(HasLine(Describe(c.parameter, false), c.warning)) << std::string(c.warning.begin(), c.warning.end());
    }
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#ZZZ=1#", false), u"unknown field"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#KEYT=ECDSA#", false), u"unknown code, read as RSA"));
}

}  // namespace
