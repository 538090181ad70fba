// Decoding of the function-4 responses: each register block is a table of
// fields (data byte offset, width, destination). A field is stored only when
// it lies wholly inside the received data; a field that does not fit keeps its
// previous value. After storing, ReadBlock moves on to the next block.
#include "App.h"
#include "CommRecord.h"
#include "PackTable.h"
#include "ResponseData.h"
#include "TelemetryBlocks.h"

#include <QStringLiteral>
#include <algorithm>
#include <span>
#include <type_traits>

namespace bms {

namespace {

struct Field {
    int offset; // first data byte of the field
    int width;  // 1, 2 or 4 bytes, big-endian
    void (*store)(uint32_t raw);
};

template <class C, class T>
T MemberTypeOf(T C::*);
template <auto Member>
using MemberType = decltype(MemberTypeOf(Member));

// Temperatures travel as 0.1 K; they are kept as 0.1 degC, wrapping in 16 bits.
int16_t KelvinToCelsius(uint32_t raw)
{
    return static_cast<int16_t>(static_cast<uint16_t>(raw - 2731u));
}

template <auto Member>
void StorePack(uint32_t raw)
{
    PackTable[0].*Member = static_cast<MemberType<Member>>(raw);
}

template <auto Member>
void StoreTemp(uint32_t raw)
{
    PackTable[0].*Member = KelvinToCelsius(raw);
}

template <auto Member, size_t Index>
void StorePackAt(uint32_t raw)
{
    (PackTable[0].*Member)[Index] = static_cast<uint16_t>(raw);
}

template <auto Member>
void StoreBsi(uint32_t raw)
{
    BsiRecord.*Member = static_cast<MemberType<Member>>(raw);
}

template <auto Member, size_t Index>
void StoreBsiAt(uint32_t raw)
{
    (BsiRecord.*Member)[Index] = static_cast<uint8_t>(raw);
}

// Table entries. The width must match the destination's type; a mismatch
// stops the table from being a constant expression and fails the build.
template <auto Member>
consteval Field Pack(int offset, int width)
{
    if (width != static_cast<int>(sizeof(MemberType<Member>)))
        throw "field width does not match its destination";
    return {offset, width, &StorePack<Member>};
}

template <auto Member>
consteval Field Temp(int offset)
{
    return {offset, 2, &StoreTemp<Member>};
}

template <auto Member, size_t Index>
consteval Field PackAt(int offset)
{
    return {offset, 2, &StorePackAt<Member, Index>};
}

template <auto Member>
consteval Field Bsi(int offset, int width)
{
    if (width != static_cast<int>(sizeof(MemberType<Member>)))
        throw "field width does not match its destination";
    return {offset, width, &StoreBsi<Member>};
}

template <auto Member, size_t Index>
consteval Field BsiAt(int offset)
{
    return {offset, 1, &StoreBsiAt<Member, Index>};
}

using P = PackRecord;
using B = BsiRecordT;

// Block 0: registers 0x000A..0x0027 (data byte = 2 x (register - 0x000A)).
constexpr Field kBlock0[] = {
    Pack<&P::version_major>(0, 1),
    Pack<&P::version_minor>(1, 1),
    Pack<&P::sw_version>(2, 2),
    Pack<&P::hw_version>(4, 2),
    Pack<&P::reg_000D>(6, 2),
    Pack<&P::reg_000E>(8, 2),
    Pack<&P::reg_000F>(10, 2),
    Pack<&P::reg_0010>(12, 2),
    Pack<&P::fcc_cap>(14, 4),
    Pack<&P::fdc_cap>(18, 4),
    Pack<&P::current>(22, 4),
    Pack<&P::total_volt>(26, 2),
    Pack<&P::rsoc>(28, 2),
    Pack<&P::remain_cap>(30, 4),
    Pack<&P::cycles>(34, 2),
    Temp<&P::temp_001C>(36),
    Pack<&P::reg_001D>(38, 2),
    Pack<&P::reg_001E>(40, 2),
    Temp<&P::temp_001F>(42),
    Temp<&P::temp_0020>(44),
    Pack<&P::reg_0021>(46, 2),
    Pack<&P::reg_0022>(48, 2),
    Pack<&P::reg_0023>(50, 2),
    Pack<&P::reg_0024>(52, 2),
    Temp<&P::temp_0025>(54),
    Pack<&P::reg_0026>(56, 2),
    Pack<&P::pack_flags>(58, 1), // high byte of 0x0027 only
};

// Block 1: registers 0x0080..0x0083.
constexpr Field kBlock1[] = {
    PackAt<&P::fault_status, 0>(0),
    PackAt<&P::fault_status, 1>(2),
    PackAt<&P::fault_status, 2>(4),
    PackAt<&P::fault_status, 3>(6),
};

// Block 2: registers 0x0100..0x0103.
constexpr Field kBlock2[] = {
    PackAt<&P::bms_status, 0>(0),
    PackAt<&P::bms_status, 1>(2),
    PackAt<&P::bms_status, 2>(4),
    PackAt<&P::bms_status, 3>(6),
};

// Block 3: registers 0x0200..0x0205.
constexpr Field kBlock3[] = {
    Pack<&P::reg_0200>(0, 2),
    Pack<&P::reg_0201>(2, 2),
    Pack<&P::reg_0202>(4, 2),
    Pack<&P::soh>(6, 2),
    Pack<&P::temp_b_count>(8, 1),
    Pack<&P::temp_a_count>(9, 1),
    Pack<&P::cell_count>(10, 2),
};

// Block 7: the parallel-system record (registers 0x2000..0x2027).
constexpr Field kBlock7[] = {
    Bsi<&B::uid_num>(0, 1),
    BsiAt<&B::sys_state, 0>(30),
    BsiAt<&B::sys_state, 1>(31),
    BsiAt<&B::error_state, 0>(32),
    BsiAt<&B::error_state, 1>(33),
    BsiAt<&B::error_state, 2>(34),
    BsiAt<&B::error_state, 3>(35),
    Bsi<&B::online_tag>(36, 2),
    Bsi<&B::pre_sp_tag>(38, 2),
    Bsi<&B::diff_volt_normal>(40, 2),
    Bsi<&B::done_sp_tag>(42, 2),
    Bsi<&B::cp_bat_num>(44, 1),
    Bsi<&B::cascad_bat_num>(45, 1),
    Bsi<&B::cp_bat_num_set>(46, 1),
    Bsi<&B::cascad_bat_num_set>(47, 1),
    Bsi<&B::sys_work_state>(48, 1),
    Bsi<&B::bat_online_num>(49, 1),
    Bsi<&B::heater_abnormal>(50, 4),
    Bsi<&B::heater_request_open>(54, 2),
    Bsi<&B::dmos_on_max_volt>(56, 2),
    Bsi<&B::status0>(58, 2),
    Bsi<&B::chg_mos_ctrl>(60, 2),
    Bsi<&B::dsg_mos_ctrl>(62, 2),
    Bsi<&B::heat_mos_ctrl>(64, 2),
};

// Block 7 members: byte 1 is a member index; bytes 1..12 are that member's
// record. Bytes 14..29 are the flags of members 1..16. Byte 66 is an index
// into member_words, whose value is the 16-bit word in bytes 67-68.
constexpr int kMemberIndexByte = 1;
constexpr int kMemberInfoBytes = 12;
constexpr int kMemberCopyCheck = 13; // the copy needs bytes 1..13 received
constexpr int kPackFlagsByte = 14;
constexpr int kMemberWordIndexByte = 66;
constexpr int kMemberWordValueByte = 67;

void StoreFields(const ResponseData& data, std::span<const Field> fields)
{
    for (const Field& f : fields) {
        if (data.fits(f.offset, f.width))
            f.store(data.read(f.offset, f.width));
    }
}

// Blocks 4, 5 and 6: `count` consecutive registers, of which at most the
// 16 that the arrays hold are kept; registers beyond the 16th are ignored.
template <class T, class Convert>
void StoreRegisters(const ResponseData& data, std::array<T, 16>& slots, int count, Convert convert)
{
    const int kept = std::min(count, static_cast<int>(slots.size()));
    for (int i = 0; i < kept; ++i) {
        if (data.fits(2 * i, 2))
            slots[static_cast<size_t>(i)] = convert(data.u16(2 * i));
    }
}

void StoreParallelMembers(const ResponseData& data)
{
    if (data.fits(kMemberIndexByte, kMemberCopyCheck)) {
        const uint8_t member = data.byte(kMemberIndexByte);
        if (member < 16) {
            auto& info = PackTable[static_cast<size_t>(member) + 1].member_info;
            for (int i = 0; i < kMemberInfoBytes; ++i)
                info[static_cast<size_t>(i)] = data.byte(kMemberIndexByte + i);
        }
    }
    if (data.fits(kPackFlagsByte, 16)) {
        for (int i = 0; i < 16; ++i)
            PackTable[static_cast<size_t>(i) + 1].pack_flags = data.byte(kPackFlagsByte + i);
    }
    // The word for entry k is taken only when index and value both arrived.
    if (data.fits(kMemberWordIndexByte, 1) && data.fits(kMemberWordValueByte, 2)) {
        const uint8_t k = data.byte(kMemberWordIndexByte);
        if (k < 16)
            BsiRecord.member_words[k] = data.u16(kMemberWordValueByte);
    }
}

bool ProductIsBsi()
{
    return App.ui && App.ui->text(QStringLiteral("cbb_pdType")) == QStringLiteral("BSI");
}

bool InfoMessageSuppressed()
{
    switch (LastWriteReg) {
    case 0x9D05: // barcode
    case 0x9D19: // clock
    case 0x9D1E: // protocol type
    case 0x9D25: // sleep time
        return true;
    default:
        return CalWorkbookOpen != 0;
    }
}

} // namespace

int32_t NextReadBlock(int32_t block)
{
    const PackRecord& pack = PackTable[0];
    switch (block) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 3;
    case 3:
        if (pack.temp_a_count > 0)
            return 4;
        return ProductIsBsi() ? 7 : 0;
    case 4: return pack.temp_b_count > 0 ? 5 : 0;
    case 5: return pack.cell_count > 0 ? 6 : 0;
    case 6: return ProductIsBsi() ? 7 : 0;
    default: return 0;
    }
}

void DecodeTelemetryBlock(int32_t block)
{
    if (MY_COM.RxLen < 2)
        return;
    const ResponseData data = ResponseData::FromRx();
    PackRecord& pack = PackTable[0];
    auto same = [](uint16_t v) { return v; };

    switch (block) {
    case 0: StoreFields(data, kBlock0); break;
    case 1: StoreFields(data, kBlock1); break;
    case 2: StoreFields(data, kBlock2); break;
    case 3: StoreFields(data, kBlock3); break;
    case 4: StoreRegisters(data, pack.temp_a, pack.temp_a_count, KelvinToCelsius); break;
    case 5: StoreRegisters(data, pack.temp_b, pack.temp_b_count, KelvinToCelsius); break;
    case 6: StoreRegisters(data, pack.cell_volt, pack.cell_count & 0xFF, same); break;
    case 7:
        StoreFields(data, kBlock7);
        StoreParallelMembers(data);
        break;
    case 8: DecodeDeviceInfo(); break;
    default:
        break;
    }
}

void ShowInformationReadMessage()
{
    if (!InfoMessageSuppressed() && App.ui)
        App.ui->showMessage(QStringLiteral("Get the information completely!"));
}

void DecodeTelemetry()
{
    if (MY_COM.RxLen < 2)
        return;
    const int32_t block = ReadBlock;
    DecodeTelemetryBlock(block);
    ReadBlock = block == 8 ? 0 : NextReadBlock(block);
    // The rotation has moved on before the box opens, so the polls go on
    // while it is shown.
    if (block == 8)
        ShowInformationReadMessage();
}

} // namespace bms
