// Builds the benchmark databases: a USER_REGISTRY of realistic Japanese users, loaded
// through one prepared insert with batched commits and the key built afterwards.
#include "Generate.h"

#include "RawFirebird.h"

#include <QDate>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace bench {
namespace {

struct Reading
{
    const char* kanji;
    const char* kana;
    const char* romaji;
};

// Common family and given names with their readings, so that names, kana and logins
// have the lengths and byte mixes a real register has.
constexpr std::array<Reading, 50> kFamilies{{
    {"佐藤", "さとう", "sato"},
    {"鈴木", "すずき", "suzuki"},
    {"高橋", "たかはし", "takahashi"},
    {"田中", "たなか", "tanaka"},
    {"伊藤", "いとう", "ito"},
    {"渡辺", "わたなべ", "watanabe"},
    {"山本", "やまもと", "yamamoto"},
    {"中村", "なかむら", "nakamura"},
    {"小林", "こばやし", "kobayashi"},
    {"加藤", "かとう", "kato"},
    {"吉田", "よしだ", "yoshida"},
    {"山田", "やまだ", "yamada"},
    {"佐々木", "ささき", "sasaki"},
    {"山口", "やまぐち", "yamaguchi"},
    {"松本", "まつもと", "matsumoto"},
    {"井上", "いのうえ", "inoue"},
    {"木村", "きむら", "kimura"},
    {"林", "はやし", "hayashi"},
    {"斎藤", "さいとう", "saito"},
    {"清水", "しみず", "shimizu"},
    {"山崎", "やまざき", "yamazaki"},
    {"森", "もり", "mori"},
    {"池田", "いけだ", "ikeda"},
    {"橋本", "はしもと", "hashimoto"},
    {"阿部", "あべ", "abe"},
    {"石川", "いしかわ", "ishikawa"},
    {"山下", "やました", "yamashita"},
    {"中島", "なかじま", "nakajima"},
    {"石井", "いしい", "ishii"},
    {"小川", "おがわ", "ogawa"},
    {"前田", "まえだ", "maeda"},
    {"岡田", "おかだ", "okada"},
    {"長谷川", "はせがわ", "hasegawa"},
    {"藤田", "ふじた", "fujita"},
    {"後藤", "ごとう", "goto"},
    {"近藤", "こんどう", "kondo"},
    {"村上", "むらかみ", "murakami"},
    {"遠藤", "えんどう", "endo"},
    {"青木", "あおき", "aoki"},
    {"坂本", "さかもと", "sakamoto"},
    {"斉藤", "さいとう", "saito"},
    {"福田", "ふくだ", "fukuda"},
    {"太田", "おおた", "ota"},
    {"西村", "にしむら", "nishimura"},
    {"藤井", "ふじい", "fujii"},
    {"金子", "かねこ", "kaneko"},
    {"岡本", "おかもと", "okamoto"},
    {"藤原", "ふじわら", "fujiwara"},
    {"中野", "なかの", "nakano"},
    {"三浦", "みうら", "miura"},
}};

constexpr std::array<Reading, 40> kGivenNames{{
    {"翔", "しょう", "sho"},        {"大翔", "ひろと", "hiroto"},
    {"蓮", "れん", "ren"},          {"陽翔", "はると", "haruto"},
    {"悠真", "ゆうま", "yuma"},     {"湊", "みなと", "minato"},
    {"健太", "けんた", "kenta"},    {"大輔", "だいすけ", "daisuke"},
    {"誠", "まこと", "makoto"},     {"直樹", "なおき", "naoki"},
    {"拓也", "たくや", "takuya"},   {"和也", "かずや", "kazuya"},
    {"隆", "たかし", "takashi"},    {"浩", "ひろし", "hiroshi"},
    {"修", "おさむ", "osamu"},      {"陽菜", "ひな", "hina"},
    {"結衣", "ゆい", "yui"},        {"美咲", "みさき", "misaki"},
    {"さくら", "さくら", "sakura"}, {"葵", "あおい", "aoi"},
    {"陽子", "ようこ", "yoko"},     {"恵子", "けいこ", "keiko"},
    {"裕子", "ゆうこ", "yuko"},     {"真由美", "まゆみ", "mayumi"},
    {"智子", "ともこ", "tomoko"},   {"由美子", "ゆみこ", "yumiko"},
    {"愛", "あい", "ai"},           {"明美", "あけみ", "akemi"},
    {"直子", "なおこ", "naoko"},    {"千尋", "ちひろ", "chihiro"},
    {"芽依", "めい", "mei"},        {"凛", "りん", "rin"},
    {"一郎", "いちろう", "ichiro"}, {"健一", "けんいち", "kenichi"},
    {"翼", "つばさ", "tsubasa"},    {"涼子", "りょうこ", "ryoko"},
    {"彩", "あや", "aya"},          {"舞", "まい", "mai"},
    {"亮", "りょう", "ryo"},        {"聡", "さとし", "satoshi"},
}};

constexpr std::array<const char*, 12> kNotes{{
    "経理部",
    "営業部 東京支店",
    "派遣社員 2025年3月まで",
    "パスワード再発行済み",
    "管理者権限あり",
    "休職中",
    "人事部 採用担当",
    "大阪支店から異動",
    "二段階認証未設定",
    "システム部 夜間バッチ担当",
    "退職予定 (引継ぎ中)",
    "研修アカウント",
}};

constexpr std::array<const char*, 4> kDomains{{
    "example.co.jp",
    "example.jp",
    "mail.example.ne.jp",
    "example.com",
}};

/// splitmix64: a fixed start gives the same table on every machine.
class Random
{
public:
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return unsigned(next() % n); }

private:
    std::uint64_t m_state = 20240601;
};

struct Param
{
    unsigned offset;
    unsigned nullOffset;
};

void execute(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction,
             const char* sql)
{
    Status status;
    attachment->execute(&status, transaction, 0, sql, 3, nullptr, nullptr, nullptr, nullptr);
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

GenerateResult generateUserRegistry(const std::string& database, long rows, long batch)
{
    GenerateResult result;
    Status status;
    auto started = std::chrono::steady_clock::now();

    db::fb::Owned<Firebird::IXpbBuilder> dpb(
        db::fb::util()->getXpbBuilder(&status, Firebird::IXpbBuilder::DPB, nullptr, 0));
    dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&status, isc_dpb_password, "plumbtide");
    dpb->insertString(&status, isc_dpb_lc_ctype, "UTF8");
    dpb->insertString(&status, isc_dpb_set_db_charset, "UTF8");
    dpb->insertInt(&status, isc_dpb_sql_dialect, 3);
    dpb->insertInt(&status, isc_dpb_page_size, 8192);
    // Asynchronous writes: the load is rebuilt from nothing if it ever breaks.
    dpb->insertInt(&status, isc_dpb_force_write, 0);
    Ref<Firebird::IProvider> provider(db::fb::master()->getDispatcher());
    Ref<Firebird::IAttachment> attachment(provider->createDatabase(
        &status, database.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status)));

    Ref<Firebird::ITransaction> transaction = startTransaction(attachment.get());
    execute(attachment.get(), transaction.get(),
            "create table USER_REGISTRY ("
            " USER_NAME varchar(31) not null,"
            " NAME varchar(60),"
            " USER_LOG_IN smallint default 0 not null,"
            " NAME_KANA varchar(60),"
            " EMAIL varchar(80),"
            " LAST_LOGIN timestamp,"
            " NOTE varchar(200))");
    commit(transaction);
    result.createSeconds = secondsSince(started);

    started = std::chrono::steady_clock::now();
    transaction = startTransaction(attachment.get());
    Ref<Firebird::IStatement> insert(attachment->prepare(
        &status, transaction.get(), 0,
        "insert into USER_REGISTRY (USER_NAME, NAME, USER_LOG_IN, NAME_KANA, EMAIL,"
        " LAST_LOGIN, NOTE) values (?, ?, ?, ?, ?, ?, ?)",
        3, 0));
    Ref<Firebird::IMessageMetadata> metadata(insert->getInputMetadata(&status));
    std::vector<Param> params(metadata->getCount(&status));
    for (unsigned i = 0; i < params.size(); ++i)
        params[i] = Param{metadata->getOffset(&status, i), metadata->getNullOffset(&status, i)};
    std::vector<unsigned char> message(metadata->getMessageLength(&status), 0);

    const auto setNull = [&](unsigned i, bool isNull) {
        const short flag = isNull ? -1 : 0;
        std::memcpy(message.data() + params[i].nullOffset, &flag, sizeof flag);
    };
    const auto setText = [&](unsigned i, const std::string& text) {
        const auto size = std::uint16_t(text.size());
        unsigned char* at = message.data() + params[i].offset;
        std::memcpy(at, &size, sizeof size);
        std::memcpy(at + sizeof size, text.data(), size);
        setNull(i, false);
    };

    const std::int32_t firstDay = std::int32_t(QDate(1858, 11, 17).daysTo(QDate(2023, 1, 1)));
    Random random;
    std::string name, kana, login, email;
    for (long row = 0; row < rows; ++row) {
        const Reading& family = kFamilies[random.below(kFamilies.size())];
        const Reading& given = kGivenNames[random.below(kGivenNames.size())];
        name = std::string(family.kanji) + "\u3000" + given.kanji;
        kana = std::string(family.kana) + "\u3000" + given.kana;
        login = std::string(given.romaji) + '.' + family.romaji + std::to_string(row + 1);
        email = login + '@' + kDomains[random.below(kDomains.size())];
        setText(0, login);
        setText(1, name);
        const std::int16_t loggedIn = random.below(10) == 0 ? 1 : 0;
        std::memcpy(message.data() + params[2].offset, &loggedIn, sizeof loggedIn);
        setNull(2, false);
        setText(3, kana);
        setText(4, email);
        if (random.below(20) == 0) {
            setNull(5, true); // never logged in
        } else {
            const std::int32_t date = firstDay + std::int32_t(random.below(3 * 365));
            const std::uint32_t time = random.below(86400) * 10000u;
            std::memcpy(message.data() + params[5].offset, &date, sizeof date);
            std::memcpy(message.data() + params[5].offset + sizeof date, &time, sizeof time);
            setNull(5, false);
        }
        if (random.below(10) < 6)
            setNull(6, true);
        else
            setText(6, kNotes[random.below(kNotes.size())]);

        insert->execute(&status, transaction.get(), metadata.get(), message.data(), nullptr,
                        nullptr);
        if ((row + 1) % batch == 0) {
            Status commitStatus;
            transaction->commitRetaining(&commitStatus);
        }
    }
    commit(transaction);
    result.loadSeconds = secondsSince(started);

    started = std::chrono::steady_clock::now();
    transaction = startTransaction(attachment.get());
    execute(attachment.get(), transaction.get(),
            "alter table USER_REGISTRY add constraint PK_USER_REGISTRY primary key (USER_NAME)");
    commit(transaction);
    result.indexSeconds = secondsSince(started);

    insert.reset();
    detach(attachment);
    return result;
}

} // namespace bench
