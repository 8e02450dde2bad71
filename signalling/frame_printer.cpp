#include "signalling/frame_printer.h"

#include <algorithm>
#include <cstdint>

namespace ISDN {

namespace {

constexpr int broadcast_tei = 127;
constexpr int management_sapi = 63;
constexpr unsigned char ui_control = 0x03;
constexpr unsigned char q931_discriminator = 0x08;

// True when an octet of the message is there to read at p; otherwise the
// frame ended early and the text is cut. Inside an element the printers only
// print while its octets remain: a short element is no short frame.
bool octet_at(FrameText& out, const unsigned char* p, const unsigned char* end) {
    if (p < end) return true;
    out.cut();
    return false;
}

// A line of a label and the eight bits of one octet.
void octet_line(FrameText& out, const char* label, unsigned char octet) {
    out.put(label);
    printbits(out, octet, 8, 8);
    out.put('\n');
}

// Element octets as characters. What is not printable ASCII goes as an
// escape ("\x00"), and so does the backslash ("\\"): an octet from the line
// neither ends the text early nor reaches the log as a control character.
void put_chars(FrameText& out, const unsigned char* p, const unsigned char* end) {
    for (; p < end; ++p) {
        if (*p == '\\')
            out.put("\\\\");
        else if (*p < 0x20 || *p > 0x7E)
            out.format("\\x%02X", *p);
        else
            out.put(static_cast<char>(*p));
    }
}

// The letter of the next octet in an extended group: 'a' after the blank of
// its first octet, then 'b'... No group runs past 'z' but a malformed one,
// whose further octets are all '?'.
char next_letter(char letter) {
    if (letter == ' ') return 'a';
    return letter >= 'a' && letter < 'z' ? static_cast<char>(letter + 1) : '?';
}

// Called and calling party numbers differ only in octet 3a.
void print_number(FrameText& out, const unsigned char* element, const unsigned char* end,
                  bool may_have_octet_3a) {
    const unsigned char* p = element + 2;
    if (p == end) return;
    unsigned char octet3 = *p++;
    octet_line(out, "    octet 3 ", octet3);
    if (may_have_octet_3a && !(octet3 & 0x80)) {
        if (p == end) return;
        octet_line(out, "    octet 3a ", *p++);
    }
    out.put("    number digits ");
    put_chars(out, p, end);
    out.put('\n');
}

// Diagnostic octets of a cause: attribute, rejection and, while the
// rejection's bit 8 is clear, the available octet, which also opens the
// next line.
void print_diagnostics(FrameText& out, const unsigned char* p, const unsigned char* end) {
    while (p < end) {
        out.format("    diag attribute %d ", *p++ & 0x7F);
        if (p == end) return;
        unsigned char rejection = *p++;
        out.format(" rej %d ", rejection & 0x7F);
        if (rejection & 0x80) {
            out.put('\n');
            continue;
        }
        if (p == end) return;
        out.format(" av %d\n", *p & 0x7F);
    }
}

template <class Row, std::size_t N, class Key>
const Row* find_row(const Row (&table)[N], Key Row::*key, unsigned char value) {
    const Row* row = std::find_if(table, table + N, [&](const Row& r) { return r.*key == value; });
    return row == table + N ? nullptr : row;
}

void print_single_octet_element(FrameText& out, unsigned char id) {
    switch ((id >> 4) & 7) {
        case 1: out.format("  Shift %x\n", id & 0x0F); break;
        case 3: out.format("  Congestion level %x\n", id & 0x0F); break;
        case 5: out.format("  Repeat indicator %x\n", id & 0x0F); break;
        case 2:
            if (id == 0xA0) out.put("  More data\n");
            if (id == 0xA1) out.put("  Sending complete\n");
            break;
        default: out.format("  Reserved %x\n", id); break;
    }
}

void print_information_elements(FrameText& out, const unsigned char* p, const unsigned char* end) {
    while (p < end && !out.stopped()) {
        unsigned char id = *p;
        if (id & 0x80) {
            print_single_octet_element(out, id);
            ++p;
            continue;
        }
        if (!octet_at(out, p + 1, end)) return;
        std::size_t declared = 2 + std::size_t{p[1]};
        std::size_t left = static_cast<std::size_t>(end - p);
        const unsigned char* element_end = p + std::min(declared, left);
        if (const InfoElementName* known = find_row(info_elements, &InfoElementName::id, id)) {
            out.format("  %s\n", known->name);
            known->printer(out, p, element_end);
        } else {
            out.format("  attribute %x attribute size %d\n", id, p[1]);
        }
        if (declared > left)
            out.cut();
        else
            out.end_line();  // a printer may stop mid-line where its element ends
        p = element_end;
    }
}

// The Q.931 message: discriminator, call reference, message type, elements.
void print_message(FrameText& out, const unsigned char* message, const unsigned char* end) {
    if (message == end) {
        out.put("frame too short\n");
        return;
    }
    if (message[0] != q931_discriminator) {
        out.format("Unknown protocol %x!", message[0]);
        return;
    }
    const unsigned char* p = message + 1;
    if (!octet_at(out, p, end)) return;
    std::size_t callref_length = *p++;
    if (callref_length > static_cast<std::size_t>(end - p)) {
        out.cut();
        return;
    }
    // Longer references than four octets keep their low 32 bits.
    std::uint32_t callref = 0;
    bool flag = false;
    for (std::size_t i = 0; i < callref_length; ++i) {
        unsigned char octet = p[i];
        if (i == 0) {
            flag = octet & 0x80;
            octet &= 0x7F;
        }
        callref = callref << 8 | octet;
    }
    p += callref_length;
    if (!octet_at(out, p, end)) return;
    unsigned char type = *p++;
    out.format("callref %u %s size %d ", callref, flag ? "called" : "caller",
               static_cast<int>(end - message));
    if (const MessageTypeName* known = find_row(message_types, &MessageTypeName::code, type))
        out.format("message type %s\n", known->name);
    else
        out.format("unknown message type %x!\n", type);
    print_information_elements(out, p, end);
}

// Classifies the frame by its address and control field; returns how many
// octets precede a Q.931 message, or 0 when the frame carries none to print.
std::size_t print_frame_kind(FrameText& out, const unsigned char* frame, const unsigned char* end) {
    int sapi = frame[0] >> 2;
    int tei = frame[1] >> 1;
    unsigned char control = frame[2];
    if (tei == broadcast_tei) {
        if (sapi == management_sapi)
            out.put("tei management:\n");
        else if (sapi != 0)
            out.format("unknown sapi %d broadcast\n", sapi);
        else if (control == ui_control) {
            out.put("broadcast\n");
            return 3;
        } else
            out.put("no UI broadcast\n");
        return 0;
    }
    if (sapi != 0) {
        out.format("unknown sapi = %d; tei = %d\n", sapi, tei);
        return 0;
    }
    if (control & 0x01) {
        out.format("SFrame tei = %d (", tei);
        for (const unsigned char* p = frame + 2; p < end; ++p) out.format("%02X ", *p);
        out.put(")\n");
        return 0;
    }
    out.format("IFrame tei = %d\n", tei);
    return 4;
}

}  // namespace

void printbits(FrameText& out, unsigned char octet, int first_bit, int count) {
    for (int bit = first_bit; bit > first_bit - count; --bit)
        out.put(octet >> (bit - 1) & 1 ? '1' : '0');
}

const unsigned char* skipext(const unsigned char* p, const unsigned char* end) {
    for (; p < end; ++p)
        if (*p & 0x80) return p + 1;
    return nullptr;
}

void general(FrameText& out, const unsigned char* element, const unsigned char* end) {
    int number = 3;
    char letter = ' ';
    for (const unsigned char* p = element + 2; p < end; ++p) {
        out.format("    octet %d%c ", number, letter);
        printbits(out, *p, 8, 8);
        out.put('\n');
        if (*p & 0x80) {
            ++number;
            letter = ' ';
        } else {
            letter = next_letter(letter);
        }
    }
}

void prbearer(FrameText& out, const unsigned char* element, const unsigned char* end) {
    const unsigned char* p = element + 2;
    if (p == end) return;
    octet_line(out, "    octet 3  ", *p++);
    if (p == end) return;
    unsigned char octet4 = *p++;
    octet_line(out, "    octet 4  ", octet4);
    if ((octet4 & 0x1F) == 0x18 && p < end) octet_line(out, "    octet 4.1 ", *p++);
    if (p < end && (*p & 0x60) == 0x20) {
        char letter = ' ';
        for (bool last = false; !last; ++p) {
            if (p == end) return;
            out.format("    octet 5%c ", letter);
            printbits(out, *p, 8, 8);
            out.put('\n');
            letter = next_letter(letter);
            last = *p & 0x80;
        }
    }
    if (p < end && (*p & 0x60) == 0x40) octet_line(out, "    octet 6  ", *p++);
    if (p < end && (*p & 0x60) == 0x60) octet_line(out, "    octet 7  ", *p++);
}

void prcause(FrameText& out, const unsigned char* element, const unsigned char* end) {
    const unsigned char* p = element + 2;
    if (p == end) return;
    out.put("    coding ");
    printbits(out, *p, 7, 2);
    out.put(" location ");
    printbits(out, *p, 4, 4);
    out.put('\n');
    p = skipext(p, end);
    if (!p || p == end) return;  // no cause value: the octet 3 group fills the element
    unsigned char value = *p++ & 0x7F;
    if (const CauseText* known = find_row(cause_texts, &CauseText::value, value))
        out.format("  cause value %x : %s \n", value, known->text);
    else
        out.format("Unknown cause type %x!\n", value);
    print_diagnostics(out, p, end);
}

void prchident(FrameText& out, const unsigned char* element, const unsigned char* end) {
    const unsigned char* p = element + 2;
    if (p < end) octet_line(out, "    octet 3 ", *p);
}

void prfacility(FrameText& out, const unsigned char* element, const unsigned char* end) {
    const unsigned char* p = element + 2;
    if (p == end) return;
    octet_line(out, "    octet 3 ", *p++);
    while (p < end) {
        octet_line(out, "   octet 4 ", *p++);
        if (p == end) return;
        int contents = *p++ & 0x7F;
        out.format("   octet 5 %d\n", contents);
        out.put("   contents ");
        for (int i = 0; i < contents; ++i) {
            if (p == end) return;
            out.format("%2x ", *p++);
        }
        out.put('\n');
    }
}

void display(FrameText& out, const unsigned char* element, const unsigned char* end) {
    out.put("   \"");
    put_chars(out, element + 2, end);
    out.put("\"\n");
}

void prcalling(FrameText& out, const unsigned char* element, const unsigned char* end) {
    print_number(out, element, end, true);
}

void prcalled(FrameText& out, const unsigned char* element, const unsigned char* end) {
    print_number(out, element, end, false);
}

void dlogframe(const unsigned char* frame, int length, bool network_to_user, char* out) {
    FrameText text(out, logbuf_size);
    if (length < 3) return;
    const unsigned char* end = frame + length;
    for (const unsigned char* p = frame; p < end; ++p) text.format(" %02X", *p);
    text.put('\n');
    text.format("frame %s ", network_to_user ? "network->user" : "user->network");
    std::size_t header = print_frame_kind(text, frame, end);
    if (header == 0) return;
    // An I frame of 3 octets has no fourth octet: its message is empty too.
    std::size_t start = std::min(header, static_cast<std::size_t>(length));
    print_message(text, frame + start, end);
}

}  // namespace ISDN
