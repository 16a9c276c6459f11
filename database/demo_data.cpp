// The demo hotel (see demo_data.h). Rows go in as multi-row INSERTs of
// literal values that this file generates itself (no outside text reaches
// them), a few hundred rows per statement, inside one transaction.
#include "database/demo_data.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "database/schema.h"
#include "platform/core/ascii.h"
#include "platform/db/engine.h"
#include "platform/db/sql_quote.h"

namespace qz::database {
namespace {

// ---- literals

std::string q(std::string_view s) { return db::QuoteSqlText(s); }
std::string num(int64_t v) { return std::to_string(v); }
std::string money(double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}
std::string when(DateTime t) { return q(t.toSql()); }
std::string flag(bool b) { return b ? "TRUE" : "FALSE"; }
const std::string kNull = "NULL";

constexpr int64_t kDay = 86400000;
constexpr int64_t kMinute = 60000;

double round2(double v) {
  return static_cast<double>(static_cast<int64_t>(v * 100 + (v >= 0 ? 0.5 : -0.5))) / 100;
}

// Collects rows of one table and sends them as multi-row INSERTs.
class Bulk {
 public:
  Bulk(db::EngineSession& session, std::string table, std::string columns)
      : session_(session), head_("INSERT INTO " + table + " (" + columns + ") VALUES ") {}
  Bulk(const Bulk&) = delete;
  Bulk& operator=(const Bulk&) = delete;

  void row(const std::vector<std::string>& values) {
    sql_ += rows_ == 0 ? head_ : std::string(",");
    sql_ += "\n(";
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) sql_ += ", ";
      sql_ += values[i];
    }
    sql_ += ')';
    if (++rows_ == kBatch) flush();
  }

  void flush() {
    if (rows_ == 0) return;
    session_.execute(sql_, {});
    sql_.clear();
    rows_ = 0;
  }

 private:
  static constexpr int kBatch = 250;
  db::EngineSession& session_;
  std::string head_;
  std::string sql_;
  int rows_ = 0;
};

// ---- names and catalogues

const char* const kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                 "徐", "孙", "马", "朱", "胡", "郭", "何", "林", "罗", "高"};
const char* const kGiven[] = {"伟", "芳", "娜",   "敏",   "静",   "丽",   "强", "磊", "军",
                              "洋", "勇", "艳",   "杰",   "娟",   "涛",   "明", "超", "秀英",
                              "华", "平", "建国", "晓东", "海燕", "志强", "丹"};

struct Dept {
  const char* id;
  const char* name;
};
const Dept kDepts[] = {{"01", "总经理室"}, {"02", "前厅部"}, {"0201", "总台"},   {"0202", "礼宾部"},
                       {"03", "客房部"},   {"04", "餐饮部"}, {"0401", "中餐厅"}, {"0402", "西餐厅"},
                       {"05", "财务部"},   {"06", "仓库"},   {"07", "工程部"},   {"08", "康乐部"}};

struct Material {
  const char* id;
  const char* name;
  const char* dw;   // unit of use
  const char* dw1;  // unit of purchase
  int exchange;     // dw per dw1
  double price;     // purchase price per dw1
  double price1;    // sale price per dw
  const char* type;
};
const Material kMaterials[] = {
    {"A001", "可口可乐", "瓶", "箱", 24, 48.00, 5.00, "饮料"},
    {"A002", "雪碧", "瓶", "箱", 24, 48.00, 5.00, "饮料"},
    {"A003", "农夫山泉", "瓶", "箱", 24, 28.80, 3.00, "饮料"},
    {"A004", "青岛啤酒", "瓶", "箱", 12, 60.00, 10.00, "酒水"},
    {"A005", "长城干红", "瓶", "箱", 6, 330.00, 98.00, "酒水"},
    {"A006", "五粮液", "瓶", "箱", 6, 5400.00, 1280.00, "酒水"},
    {"A007", "中华香烟", "包", "条", 10, 450.00, 55.00, "香烟"},
    {"A008", "红塔山", "包", "条", 10, 95.00, 12.00, "香烟"},
    {"B001", "牙刷", "支", "盒", 100, 35.00, 0.00, "客用品"},
    {"B002", "牙膏", "支", "盒", 100, 40.00, 0.00, "客用品"},
    {"B003", "香皂", "块", "盒", 200, 90.00, 0.00, "客用品"},
    {"B004", "洗发水", "瓶", "箱", 200, 120.00, 0.00, "客用品"},
    {"B005", "拖鞋", "双", "包", 50, 60.00, 0.00, "客用品"},
    {"B006", "卫生纸", "卷", "提", 10, 18.00, 0.00, "客用品"},
    {"C001", "大米", "公斤", "袋", 25, 95.00, 0.00, "食品"},
    {"C002", "食用油", "升", "桶", 5, 68.00, 0.00, "食品"},
    {"C003", "猪肉", "公斤", "公斤", 1, 26.00, 0.00, "食品"},
    {"C004", "鸡蛋", "个", "箱", 360, 165.00, 0.00, "食品"},
    {"C005", "面粉", "公斤", "袋", 25, 85.00, 0.00, "食品"},
    {"D001", "床单", "条", "条", 1, 45.00, 0.00, "布草"},
    {"D002", "毛巾", "条", "打", 12, 96.00, 0.00, "布草"},
    {"D003", "浴巾", "条", "条", 1, 38.00, 0.00, "布草"},
    {"E001", "灯泡", "个", "盒", 10, 55.00, 0.00, "工程用品"},
    {"E002", "电池", "节", "盒", 40, 48.00, 0.00, "工程用品"},
};

struct Client {
  const char* type;
  const char* name;
  const char* addi;
};
const Client kClients[] = {
    {"协议单位", "上海岚舟贸易有限公司", "上海市浦东新区世纪大道100号"},
    {"协议单位", "杭州西溪科技有限公司", "杭州市西湖区文三路88号"},
    {"协议单位", "江南机械制造厂", "无锡市滨湖区太湖大道12号"},
    {"协议单位", "华东电力设计院", "南京市鼓楼区北京西路6号"},
    {"协议单位", "东方国际旅行社", "苏州市姑苏区人民路200号"},
    {"协议单位", "中国银行苏州分行", "苏州市工业园区苏华路8号"},
    {"单位", "市教育局", "苏州市三香路998号"},
    {"单位", "新华书店", "苏州市观前街166号"},
    {"单位", "第一人民医院", "苏州市十梓街188号"},
    {"单位", "长江物流有限公司", "南通市崇川区工农路51号"},
    {"供应商", "苏州饮料批发部", "苏州市相城区阳澄湖路3号"},
    {"供应商", "金海副食品公司", "苏州市吴中区东吴北路66号"},
    {"供应商", "洁雅酒店用品有限公司", "广州市白云区机场路22号"},
    {"供应商", "红星酒业", "宜宾市翠屏区岷江路9号"},
    {"供应商", "绿野农产品配送中心", "苏州市吴江区松陵镇"},
};

struct Dish {
  const char* id;
  const char* name;
  double price;
};
const Dish kDishes[] = {{"F001", "松鼠桂鱼", 128},  {"F002", "清炒虾仁", 98},
                        {"F003", "响油鳝糊", 88},   {"F004", "东坡肉", 68},
                        {"F005", "蟹粉豆腐", 58},   {"F006", "清炒时蔬", 28},
                        {"F007", "西湖牛肉羹", 38}, {"F008", "扬州炒饭", 32},
                        {"F009", "小笼包", 26},     {"F010", "黑椒牛排", 118}};

struct RoomType {
  const char* name;
  double price;
  int beds;
};
const RoomType kRoomTypes[] = {
    {"标准间", 368, 2}, {"大床房", 398, 1}, {"商务套房", 688, 1}, {"豪华套房", 1288, 1}};

class DemoBuilder {
 public:
  DemoBuilder(db::EngineSession& s, int bills)
      : s_(s), bills_(bills > 0 ? bills : 240), rng_(20021221), today_(DateTime::today()) {}

  void run() {
    depts();
    staff();
    users();
    rooms();
    clients();
    materials();
    accounts();
    billsAndOrders();
    payroll();
    reports();
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  double chance() { return std::uniform_real_distribution<double>(0, 1)(rng_); }
  std::string personName() {
    return std::string(kSurnames[pick(std::size(kSurnames))]) + kGiven[pick(std::size(kGiven))];
  }
  const std::string& someStaff() { return staffNames_[pick(static_cast<int>(staffNames_.size()))]; }
  DateTime daysAgo(int d, int minuteOfDay) {
    return DateTime{today_.msecs - d * kDay + minuteOfDay * kMinute};
  }

  void depts() {
    Bulk b(s_, "dept", "id, name, manager, tel, memo");
    for (const auto& d : kDepts)
      b.row({q(d.id), q(d.name), kNull, q("0512-6520" + std::string(d.id).substr(0, 2) + "00"),
             kNull});
    b.flush();
    Bulk t(s_, "StaType", "id, name, basepay, memo");
    t.row({q("01"), q("正式工"), money(3200), kNull});
    t.row({q("02"), q("合同工"), money(2600), kNull});
    t.row({q("03"), q("临时工"), money(1900), q("按日结算")});
    t.flush();
  }

  void staff() {
    // Department of each staff member: the management ("01") first, so the
    // staff query's default pattern lists people.
    const char* deptOf[] = {"01",   "01",   "01",   "0201", "0201", "0201", "0201", "0202",
                            "0202", "03",   "03",   "03",   "03",   "03",   "0401", "0401",
                            "0401", "0402", "0402", "05",   "05",   "06",   "07",   "08"};
    const char* duties[] = {"经理", "主管", "领班", "服务员"};
    Bulk b(s_, "staffer", "id, name, deptid, sex, duty, statype, tel, idcard, indate, memo");
    int n = 0;
    for (const char* d : deptOf) {
      ++n;
      char id[8];
      std::snprintf(id, sizeof id, "%04d", n);
      std::string name = personName();
      staffIds_.push_back(id);
      staffNames_.push_back(name);
      staffDepts_.push_back(d);
      b.row({q(id), q(name), q(d), q(chance() < 0.5 ? "男" : "女"),
             q(n <= 3 ? "经理" : duties[1 + pick(3)]), q(n <= 19 ? "01" : "02"),
             q("139" + std::to_string(10000000 + pick(89999999))),
             q("3205" + std::to_string(1970 + pick(30)) + "0" + std::to_string(1 + pick(9)) + "1" +
               std::to_string(pick(10)) + std::to_string(1000 + pick(9000))),
             when(daysAgo(200 + pick(3000), 540)), kNull});
    }
    b.flush();
  }

  void users() {
    Bulk b(s_, "users", "id, psw, mark, popedom, name, memo");
    b.row({q("admin"), q("admin"), q("系统管理"), q("1111111111"), q("系统管理员"),
           q("演示数据的管理员")});
    b.row({q("cashier"), q("123"), q("系统管理"), q("0100000000"), q(staffNames_[3]),
           q("无管理权限")});
    b.row({q("front"), q("123"), q("前台收银"), q("1100000000"), q(staffNames_[4]), kNull});
    b.flush();
  }

  void rooms() {
    Bulk b(s_, "room", "id, rtype, floor, beds, price, state, memo");
    for (int floor = 2; floor <= 8; ++floor)
      for (int r = 1; r <= 16; ++r) {
        const RoomType& t = kRoomTypes[floor >= 8 ? 2 + r % 2 : (r % 5 == 0 ? 1 : 0)];
        std::string id = std::to_string(floor * 100 + r);
        roomIds_.push_back(id);
        b.row({q(id), q(t.name), num(floor), num(t.beds), money(t.price),
               q(chance() < 0.6 ? "空房" : "住人"), kNull});
      }
    b.flush();
  }

  void clients() {
    Bulk b(s_, "CLIENT",
           "type, id, name, addi, mailno, email, tel, m_tel, fax, bank, bankID, taxid, pym, "
           "neardate, rebate, credit, memo");
    int id = 0;
    for (const auto& c : kClients) {
      ++id;
      clientNames_.push_back(c.name);
      bool supplier = std::string_view(c.type) == "供应商";
      if (supplier) supplierIds_.push_back(id);
      b.row({q(c.type), num(id), q(c.name), q(c.addi), q("215" + std::to_string(100 + pick(900))),
             q("info" + std::to_string(id) + "@example.com"),
             q("0512-" + std::to_string(60000000 + pick(9999999))),
             q("138" + std::to_string(10000000 + pick(89999999))),
             q("0512-" + std::to_string(60000000 + pick(9999999))), q("中国工商银行苏州分行"),
             q("1102" + std::to_string(100000000 + pick(899999999))),
             q("91320500" + std::to_string(1000000 + pick(8999999)) + "X"), kNull,
             when(daysAgo(pick(30), 0)), supplier ? kNull : std::string("0.9"),
             money(supplier ? 0 : 50000), kNull});
    }
    // Private guests.
    for (int i = 0; i < 25; ++i) {
      ++id;
      std::string name = personName();
      clientNames_.push_back(name);
      b.row({q("个人"), num(id), q(name), kNull, kNull, kNull, kNull,
             q("13" + std::to_string(100000000 + pick(899999999))), kNull, kNull, kNull, kNull,
             kNull, when(daysAgo(pick(90), 0)), kNull, money(0), kNull});
    }
    b.flush();
  }

  void materials() {
    Bulk b(s_, "material",
           "id, name, dw, dw1, exchange, addi, price, price0, price1, info, cost, pym, slye, "
           "ye, TcType, TcCoefficient, rebate, sMax, sMin, mType");
    for (const auto& m : kMaterials) {
      double stock = 20 + pick(200);
      double unit = round2(m.price / m.exchange);
      b.row({q(m.id),
             q(m.name),
             q(m.dw),
             q(m.dw1),
             num(m.exchange),
             kNull,
             money(unit),
             money(unit),
             money(m.price1),
             kNull,
             q("加权平均"),
             kNull,
             money(stock),
             money(round2(stock * unit)),
             q(m.price1 > 0 ? "提成" : "无"),
             m.price1 > 0 ? std::string("0.05") : kNull,
             std::string("1"),
             money(500),
             money(10),
             q(m.type)});
    }
    b.flush();
  }

  void accounts() {
    Bulk head(s_, "Maccount",
              "num, consumption, DeptID, cltid, ndate, fdate, tdate, operator, waiter, "
              "receiver, sanctifier, checker, marck, cltname, item, dept2id, memo");
    Bulk items(s_, "MAccItems",
               "bnum, oprt, summary, MID, plan_price, plan_amount, pye, pye_amount, jf_PRICE, "
               "jf_amount, df_PRICE, xs_Price, df_amount, ye, ye_amount, marck, inum, iinum, "
               "MName, MSize, dw, dw1, exchange, price, amount, money");
    Bulk pays(s_, "gathering",
              "inum, bnum, ndate, type, summary, PAYMODE, money, worker, station, memo");
    const char* kinds[] = {"购进", "销售", "领用"};
    int iinum = 0;
    for (int doc = 1; doc <= 48; ++doc) {
      std::string kind = kinds[doc % 3];
      DateTime day = daysAgo(60 - doc, 600 + pick(300));
      int cltid = kind == "购进" ? supplierIds_[pick(static_cast<int>(supplierIds_.size()))]
                                 : (kind == "销售" ? 1 + pick(10) : 0);
      std::string dept2 = kind == "领用" ? std::string("03") : std::string("06");
      const std::string& who = someStaff();
      head.row({num(doc), q(kind), q("06"), cltid ? num(cltid) : kNull, when(day), when(day),
                when(day), q(who), q(someStaff()), q(someStaff()), q(staffNames_[0]),
                q(staffNames_[19]), flag(false), cltid ? q(clientNames_[cltid - 1]) : kNull,
                q(kind == "购进"   ? "采购入库"
                  : kind == "销售" ? "商品销售"
                                   : "部门领用"),
                q(dept2), kNull});
      double total = 0;
      int lines = 2 + pick(4);
      for (int line = 1; line <= lines; ++line) {
        const Material& m = kMaterials[pick(std::size(kMaterials))];
        double amount = 1 + pick(kind == "购进" ? 20 : 40);
        double unit = round2(m.price / m.exchange);
        double price = kind == "购进" ? m.price : (kind == "销售" ? m.price1 : unit);
        double value = round2(price * amount);
        total += value;
        bool in = kind == "购进";
        items.row({num(doc),
                   q(kind),
                   q(std::string(m.name) + (in ? "入库" : "出库")),
                   q(m.id),
                   money(unit),
                   money(amount),
                   money(unit),
                   money(amount),
                   in ? money(price) : kNull,
                   in ? money(amount) : kNull,
                   in ? kNull : money(price),
                   kind == "销售" ? money(m.price1) : kNull,
                   in ? kNull : money(amount),
                   money(unit),
                   money(50 + pick(200)),
                   flag(false),
                   num(line),
                   num(++iinum),
                   q(m.name),
                   kNull,
                   q(m.dw),
                   q(m.dw1),
                   num(m.exchange),
                   money(price),
                   money(amount),
                   money(value)});
      }
      if (kind != "领用")
        pays.row({num(++gatheringId_), num(doc), when(day),
                  q(kind == "购进" ? "采购付款" : "销售收款"),
                  q(kind == "购进" ? "货款" : "销售货款"), q(chance() < 0.5 ? "转账" : "现金"),
                  money(total), q(who), q("CK01"), kNull});
    }
    head.flush();
    items.flush();
    pays.flush();
  }

  void billsAndOrders() {
    const int orders = std::max(8, bills_ / 60);
    const int span = std::clamp(bills_ / 100, 60, 730);  // days back
    // Group orders first: a few member bills each, taken from the first bills.
    Bulk go(s_, "gorders",
            "go_num, consumption, cltname, ndate, fdate, tdate, operator, checker, rebate, "
            "station, cltid, settle, memo");
    std::vector<int> groupOf(bills_ + 1, 0);
    int next = 1;
    for (int g = 1; g <= orders && next <= bills_; ++g) {
      int clt = 1 + pick(10);
      int ago = 2 + pick(span - 2);
      DateTime day = daysAgo(ago, 480 + pick(600));
      go.row({num(g), q("住宿"), q(clientNames_[clt - 1]), when(day), when(daysAgo(ago, 0)),
              when(daysAgo(ago - 2, 0)), q(someStaff()), q(staffNames_[19]), std::string("0.85"),
              q("QT01"), num(clt), flag(ago > 3), q("团队")});
      int members = 2 + pick(3);
      for (int k = 0; k < members && next <= bills_; ++k) groupOf[next++] = g;
    }
    go.flush();

    Bulk bl(s_, "bills",
            "num, gnum, consumption, roomid, PAmount, cltname, ndate, fdate, tdate, operator, "
            "waiter, receiver, sanctifier, checker, rebate, settle, comefrom, station, cltid, "
            "memo");
    Bulk it(s_, "billitems",
            "bnum, inum, itemid, name, price, amount, rebate, money, waiter, ndate, memo");
    Bulk pay(s_, "gathering",
             "inum, bnum, ndate, type, summary, PAYMODE, money, worker, station, memo");
    const char* comefrom[] = {"散客", "协议单位", "电话预订", "网络预订", "会员", "旅行社"};
    const char* payTypes[] = {"现金", "信用卡", "挂账", "支票"};
    for (int n = 1; n <= bills_; ++n) {
      double r = chance();
      std::string kind = groupOf[n] ? "住宿"
                         : r < 0.6  ? "住宿"
                         : r < 0.85 ? "餐饮"
                         : r < 0.95 ? "娱乐"
                                    : "商品";
      int ago = pick(span);
      DateTime opened = daysAgo(ago, 420 + pick(900));
      int nights = kind == "住宿" ? 1 + pick(3) : 0;
      bool settled = ago - nights > 0 || chance() < 0.5;
      int clt = chance() < 0.7 ? 1 + pick(static_cast<int>(clientNames_.size())) : 0;
      if (clt && clt <= static_cast<int>(std::size(kClients)) &&
          std::string_view(kClients[clt - 1].type) == "供应商")
        clt = 0;
      double rebate = clt && clt <= 10 ? 0.9 : 1.0;
      std::string room = kind == "住宿"   ? roomIds_[pick(static_cast<int>(roomIds_.size()))]
                         : kind == "餐饮" ? "包厢" + std::to_string(1 + pick(12))
                                          : "";
      const std::string& op = someStaff();
      bl.row({num(n),
              groupOf[n] ? num(groupOf[n]) : kNull,
              q(kind),
              room.empty() ? kNull : q(room),
              num(1 + pick(3)),
              q(clt ? clientNames_[clt - 1] : personName()),
              when(opened),
              when(daysAgo(ago, 0)),
              when(daysAgo(ago - nights, 0)),
              q(op),
              q(someStaff()),
              q(someStaff()),
              kNull,
              settled ? q(staffNames_[19]) : kNull,
              money(rebate),
              flag(settled),
              q(comefrom[pick(std::size(comefrom))]),
              q(kind == "住宿" ? "QT01" : "CT01"),
              clt ? num(clt) : kNull,
              kNull});
      double total = 0;
      int line = 0;
      auto item = [&](const std::string& id, const std::string& name, double price, double amount) {
        double value = round2(price * amount * rebate);
        total += value;
        it.row({num(n), num(++line), q(id), q(name), money(price), money(amount), money(rebate),
                money(value), q(someStaff()), when(opened), kNull});
      };
      if (kind == "住宿") {
        const RoomType& t = kRoomTypes[pick(std::size(kRoomTypes))];
        item("R001", std::string("房费-") + t.name, t.price, nights);
        if (chance() < 0.5) item("R002", "早餐", 38, nights * (1 + pick(2)));
        if (chance() < 0.2) item("R003", "洗衣", 25 + pick(40), 1);
        if (chance() < 0.3) {
          const Material& m = kMaterials[pick(8)];
          item(m.id, std::string("迷你吧-") + m.name, m.price1, 1 + pick(3));
        }
      } else if (kind == "餐饮") {
        int dishes = 2 + pick(5);
        for (int k = 0; k < dishes; ++k) {
          const Dish& d = kDishes[pick(std::size(kDishes))];
          item(d.id, d.name, d.price, 1);
        }
        const Material& m = kMaterials[pick(6)];
        item(m.id, m.name, m.price1, 1 + pick(6));
      } else if (kind == "娱乐") {
        item("K001", "KTV包厢", 288, 1 + pick(3));
        item("K002", "果盘", 68, 1);
      } else {
        const Material& m = kMaterials[pick(8)];
        item(m.id, m.name, m.price1, 1 + pick(4));
      }
      total = round2(total);
      double deposit = 0;
      if (kind == "住宿" && chance() < 0.4) {
        deposit = 200.0 * (1 + pick(3));
        pay.row({num(++gatheringId_), num(n), when(opened), q("订金"), q("入住押金"), q("现金"),
                 money(deposit), q(op), q("QT01"), kNull});
      }
      if (settled) {
        DateTime closed = daysAgo(std::max(0, ago - nights), 660 + pick(120));
        const char* type = clt && clt <= 10 && chance() < 0.6 ? "挂账" : payTypes[pick(2)];
        pay.row({num(++gatheringId_), num(n), when(closed), q(type), q("结账"), q(type),
                 money(std::max(0.0, round2(total - deposit))), q(op),
                 q(kind == "住宿" ? "QT01" : "CT01"), kNull});
      }
    }
    bl.flush();
    it.flush();
    pay.flush();
  }

  void payroll() {
    struct Item {
      const char* name;
      const char* kind;
      double base;
    };
    const Item kItems[] = {{"基本工资", "应发", 0},  {"岗位津贴", "应发", 400},
                           {"加班费", "应发", 150},  {"全勤奖", "应发", 100},
                           {"社会保险", "扣款", 0},  {"住房公积金", "扣款", 0},
                           {"个人所得税", "扣款", 0}};
    Bulk stru(s_, "gzstru", "id, ndate, fname, ftype, fvalue, forder, memo");
    Bulk gz(s_, "gz", "id, ndate, staid, staname, deptID, xz, kind, money, memo");
    int struId = 0, gzId = 0;
    // The last day of each of the two months before the current one.
    int y, m, d, h, mi, se, ms;
    today_.toParts(&y, &m, &d, &h, &mi, &se, &ms);
    for (int back = 2; back >= 1; --back) {
      int mm = m - back, yy = y;
      while (mm < 1) {
        mm += 12;
        --yy;
      }
      DateTime nextFirst =
          mm == 12 ? DateTime::fromParts(yy + 1, 1, 1) : DateTime::fromParts(yy, mm + 1, 1);
      DateTime monthEnd{nextFirst.msecs - kDay};
      int order = 0;
      for (const auto& i : kItems)
        stru.row({num(++struId), when(monthEnd), q(i.name), q(i.kind), money(i.base), num(++order),
                  kNull});
      for (size_t s = 0; s < staffIds_.size(); ++s) {
        double base = s < 3 ? 6800 : s < 19 ? 3200 + 100 * pick(8) : 2600;
        double earned = 0;
        for (const auto& i : kItems) {
          double v;
          std::string_view name = i.name;
          if (name == "基本工资")
            v = base;
          else if (name == "加班费")
            v = 150.0 * pick(4);
          else if (name == "社会保险")
            v = round2(base * 0.105);
          else if (name == "住房公积金")
            v = round2(base * 0.07);
          else if (name == "个人所得税")
            v = round2(std::max(0.0, earned - 5000) * 0.03);
          else
            v = i.base;
          if (std::string_view(i.kind) == "应发") earned += v;
          gz.row({num(++gzId), when(monthEnd), q(staffIds_[s]), q(staffNames_[s]),
                  q(staffDepts_[s]), q(i.name), q(i.kind), money(v), kNull});
        }
      }
    }
    stru.flush();
    gz.flush();
  }

  void reports() {
    Bulk b(s_, "rptlist", "id, name, kind, sqltext, memo");
    b.row({num(1), q("营业日报"), q("日报"), q("EXEC DayRpt :fdate, :tdate, 0, 0, 0, 0"), kNull});
    b.row({num(2), q("经营分析表"), q("经营"),
           q("EXEC manageRpt :fdate, :tdate, :t1, :t2, :t3, :t4"), kNull});
    b.row({num(3), q("工资汇总表"), q("工资"), q("EXEC gz_gatherGz :year, :month, '%'"), kNull});
    b.row({num(4), q("客户消费排行"), q("客户"),
           q("select cltname, count(*) as bills from bills group by cltname order by 2 desc"),
           kNull});
    b.flush();
  }

  db::EngineSession& s_;
  int bills_;
  std::mt19937 rng_;
  DateTime today_;
  int gatheringId_ = 0;
  std::vector<std::string> staffIds_, staffNames_, staffDepts_, roomIds_, clientNames_;
  std::vector<int> supplierIds_;
};

// Generated keys continue after the explicit demo numbers (PostgreSQL's
// identity sequences do not see explicit values; SQLite's do).
void resyncGeneratedKeys(db::EngineSession& s) {
  if (s.flavor() != db::SqlFlavor::Postgres) return;
  for (const auto& t : applicationTables())
    for (const auto& c : t.columns) {
      if (c.type != ColType::Serial) continue;
      const std::string col = AsciiLower(c.name);
      s.execute("SELECT setval(pg_get_serial_sequence('" + std::string(t.name) + "', '" + col +
                    "'), coalesce(max(" + col + "), 0) + 1, false) FROM " + t.name,
                {});
    }
}

}  // namespace

void addDemoData(db::Connection& conn, const DemoOptions& options) {
  conn.ensureOpen();
  db::EngineSession& s = conn.session();
  s.begin();
  try {
    DemoBuilder(s, options.bills).run();
    resyncGeneratedKeys(s);
    s.commit();
  } catch (...) {
    s.rollback();
    throw;
  }
}

}  // namespace qz::database
