#include "bench/report_data.h"

#include <array>
#include <cstdio>

namespace tersify::bench {
namespace {

constexpr std::array<const char*, 24> kWords = {
    "Invoice",  "Customer", "Amount", "Total",    "Date",     "Article", "Quantity", "Price",
    "Discount", "Tax",      "Order",  "Supplier", "Warehouse", "Account", "Balance",  "Period",
    "Region",   "Employee", "Project", "Cost",    "Budget",   "Payment", "Due",      "Currency"};
constexpr std::array<const char*, 6> kBands = {"ReportTitle", "PageHeader", "MasterData",
                                                "DetailData",  "GroupFooter", "PageFooter"};
constexpr std::array<const char*, 4> kFonts = {"Tahoma", "Arial", "Courier New", "Times New Roman"};

}  // namespace

size_t ReportGenerator::Between(size_t low, size_t high) {
  return std::uniform_int_distribution<size_t>(low, high)(random_);
}

std::string ReportGenerator::Word() { return kWords[Between(0, kWords.size() - 1)]; }

std::string ReportGenerator::Report(const std::string& name, size_t target_bytes) {
  std::string xml;
  xml.reserve(target_bytes + 512);
  xml += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<TfrxReport Version=\"4.9\" Name=\"" + name +
         "\" ReportOptions.Author=\"" + Word() + "\">\r\n";
  int page = 0;
  char line[512];
  while (xml.size() < target_bytes) {
    std::snprintf(line, sizeof line, "  <TfrxReportPage Name=\"Page%d\" PaperWidth=\"210\" PaperHeight=\"297\">\r\n",
                  ++page);
    xml += line;
    for (int band = 0; band < 6 && xml.size() < target_bytes; ++band) {
      std::snprintf(line, sizeof line, "    <Tfrx%s Name=\"%s%d\" Top=\"%zu\" Height=\"%zu\">\r\n",
                    kBands[static_cast<size_t>(band)], kBands[static_cast<size_t>(band)], page,
                    Between(0, 900), Between(18, 120));
      xml += line;
      size_t memos = Between(2, 9);
      for (size_t m = 0; m < memos && xml.size() < target_bytes; ++m) {
        std::string field = Word() + Word();
        std::snprintf(line, sizeof line,
                      "      <TfrxMemoView Name=\"Memo%zu\" Left=\"%zu\" Top=\"%zu\" Width=\"%zu\" "
                      "Font.Name=\"%s\" Font.Size=\"%zu\" Frame.Typ=\"%zu\" "
                      "Text=\"[frxDB.&#34;%s&#34;] %s %.2f\"/>\r\n",
                      m, Between(0, 700), Between(0, 100), Between(40, 300),
                      kFonts[Between(0, kFonts.size() - 1)], Between(7, 14), Between(0, 15),
                      field.c_str(), Word().c_str(), static_cast<double>(Between(0, 99999)) / 100.0);
        xml += line;
      }
      std::snprintf(line, sizeof line, "    </Tfrx%s>\r\n", kBands[static_cast<size_t>(band)]);
      xml += line;
    }
    xml += "  </TfrxReportPage>\r\n";
  }
  xml += "</TfrxReport>\r\n";
  return xml;
}

std::string ReportGenerator::Incompressible(size_t bytes) {
  std::string data(bytes, '\0');
  for (size_t i = 0; i < bytes; i += 8) {
    uint64_t r = random_();
    for (size_t k = 0; k < 8 && i + k < bytes; ++k) data[i + k] = static_cast<char>(r >> (8 * k));
  }
  return data;
}

std::string RowKey(int row) {
  char name[24];
  std::snprintf(name, sizeof name, "R%07d", row);
  return name;
}

std::string RowValue(ReportGenerator& generator, int row, size_t size) {
  std::string value = generator.Report(RowKey(row), size);
  value.resize(size, ' ');
  return value;
}

}  // namespace tersify::bench
