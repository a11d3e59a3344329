#include "burnwise/records/RecordStore.h"

#include <gtest/gtest.h>

namespace {

using namespace burnwise::records;

std::vector<Record> Sample() {
    Record pass;
    pass.Time = "2026-12-01T08:00:00Z";
    pass.Station = "bench-1";
    pass.Operation = "program";
    pass.DriverIndex = 0;
    pass.Model = "KR2C";
    pass.Eeprom = "internal";
    pass.SerialNumber = "QA000001";
    pass.Outcome = Result::Pass;
    pass.TemplateFile = "cable.bwt";
    pass.TemplateSha256 = "t1";
    pass.ImageSha256 = "i1";
    pass.Label = {LabelState::Printed, "line-3, left-12"};
    Record fail = pass;
    fail.Label = {};
    fail.Station = "line \"B\", left";
    fail.DriverIndex = 12;
    fail.Outcome = Result::Fail;
    fail.Reason = "Product Description is X\nsee \\log\x01";
    fail.TemplateFile = "r\xc3\xa9v.bwt"; // UTF-8 e acute
    return {pass, fail};
}

TEST(RecordFormat, EachFormatEscapesWhatWouldBreakIt) {
    const std::pair<ListFormat, std::string> cases[] = {
        {ListFormat::Csv,
         "time,station,operation,driver_index,model,eeprom,serial,result,reason,template_file,"
         "template_sha256,image_sha256,label,label_detail\r\n"
         "2026-12-01T08:00:00Z,bench-1,program,0,KR2C,internal,QA000001,PASS,,cable.bwt,t1,i1,"
         "printed,\"line-3, left-12\"\r\n"
         "2026-12-01T08:00:00Z,\"line \"\"B\"\", left\",program,12,KR2C,internal,QA000001,FAIL,"
         "\"Product Description is X\nsee \\log\x01\",r\xc3\xa9v.bwt,t1,i1,not asked,\r\n"},
        {ListFormat::Json,
         "[\n"
         "  {\"time\": \"2026-12-01T08:00:00Z\", \"station\": \"bench-1\", \"operation\": "
         "\"program\", \"driver_index\": 0, \"model\": \"KR2C\", \"eeprom\": \"internal\", "
         "\"serial\": \"QA000001\", \"result\": \"PASS\", \"reason\": \"\", \"template_file\": "
         "\"cable.bwt\", \"template_sha256\": \"t1\", \"image_sha256\": \"i1\", \"label\": "
         "\"printed\", \"label_detail\": \"line-3, left-12\"},\n"
         "  {\"time\": \"2026-12-01T08:00:00Z\", \"station\": \"line \\\"B\\\", left\", "
         "\"operation\": \"program\", \"driver_index\": 12, \"model\": \"KR2C\", \"eeprom\": "
         "\"internal\", \"serial\": \"QA000001\", \"result\": \"FAIL\", \"reason\": \"Product "
         "Description is X\\nsee \\\\log\\u0001\", \"template_file\": \"r\xc3\xa9v.bwt\", "
         "\"template_sha256\": \"t1\", \"image_sha256\": \"i1\", \"label\": \"not asked\", "
         "\"label_detail\": \"\"}\n"
         "]\n"},
        {ListFormat::Text,
         "TIME                  STATION         OPERATION  DRIVER INDEX  MODEL  EEPROM    SERIAL  "
         "  RESULT  REASON                              TEMPLATE FILE  TEMPLATE SHA256  IMAGE "
         "SHA256  LABEL      LABEL DETAIL\n"
         "2026-12-01T08:00:00Z  bench-1         program    0             KR2C   internal  "
         "QA000001  PASS                                        cable.bwt      t1               "
         "i1            printed    line-3, left-12\n"
         "2026-12-01T08:00:00Z  line \"B\", left  program    12            KR2C   internal  "
         "QA000001  FAIL    Product Description is X see \\log   r\xc3\xa9v.bwt        t1          "
         "    "
         " i1            not asked\n"},
    };
    for (const auto& [format, expected] : cases)
        EXPECT_EQ(FormatRecords(Sample(), format), expected) << int(format);
    EXPECT_EQ(FormatRecords({}, ListFormat::Json), "[]\n");
    EXPECT_EQ(ParseListFormat("csv"), ListFormat::Csv);
    EXPECT_FALSE(ParseListFormat("xml"));
}

TEST(RecordFormat, CsvCellsNeverRunAsFormulas) {
    Record record = Sample()[0];
    const std::pair<std::string, std::string> cases[] = {
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1+2", "'+1+2"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tcmd", "'\tcmd"},
        {"bench=1", "bench=1"},
    };
    for (const auto& [station, cell] : cases) {
        record.Station = station;
        const std::string csv = FormatRecords({record}, ListFormat::Csv);
        EXPECT_NE(csv.find(",program,"), std::string::npos);
        EXPECT_NE(csv.find("\r\n2026-12-01T08:00:00Z," + cell + ",program,"), std::string::npos)
            << csv;
    }
}

TEST(RecordFormat, SummaryGivesYieldAndRatePerStationAndDay) {
    const std::vector<DaySummary> days = {
        {"2026-12-01",
         "Pr\xc3\xbc"
         "fplatz",
         39, 1, "2026-12-01T08:00:00Z", "2026-12-01T10:00:00Z"},
        {"2026-12-02", "b", 1, 0, "2026-12-02T08:00:00Z", "2026-12-02T08:00:00Z"},
    };
    EXPECT_EQ(FormatSummary(days, ListFormat::Text),
              "DAY         STATION    PASSED  FAILED  YIELD %  DEVICES PER HOUR\n"
              "2026-12-01  Pr\xc3\xbc"
              "fplatz  39      1       97.5     20.0\n"
              "2026-12-02  b          1       0       100.0    60.0\n");
    EXPECT_EQ(FormatSummary(days, ListFormat::Csv),
              "day,station,passed,failed,yield_percent,devices_per_hour\r\n"
              "2026-12-01,Pr\xc3\xbc"
              "fplatz,39,1,97.5,20.0\r\n2026-12-02,b,1,0,100.0,60.0\r\n");
    EXPECT_EQ(FormatSummary({}, ListFormat::Json), "[]\n");
}

} // namespace
