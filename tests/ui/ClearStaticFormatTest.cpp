#include <gtest/gtest.h>

#include "ClearStatic.h"

using namespace TextFormat;

struct FormatCase {
    unsigned style;
    unsigned format;
};

TEST(ClearStaticFormat, StyleBitsGiveTheDrawingFormat) {
    const FormatCase cases[] = {
        {0x0, DT_WORDBREAK},                         // plain left label wraps
        {0x1, DT_CENTER | DT_WORDBREAK},             // SS_CENTER
        {0x2, DT_RIGHT | DT_WORDBREAK},              // SS_RIGHT
        {0x3, DT_RIGHT | DT_CENTER | DT_WORDBREAK},  // both type bits tested one by one
        {0x4, 0},                                    // type bit 0x4 rules out wrapping
        {0x8, 0},                                    // so does 0x8
        {0xC, 0},                                    //
        {0x80, DT_NOPREFIX | DT_WORDBREAK},          // SS_NOPREFIX
        {0x200, DT_VCENTER | DT_SINGLELINE},         // SS_CENTERIMAGE
        {0x201, DT_CENTER | DT_VCENTER | DT_SINGLELINE},
        {0x4000, DT_WORD_ELLIPSIS | DT_END_ELLIPSIS},                     // SS_ENDELLIPSIS
        {0x8000, DT_WORD_ELLIPSIS | DT_PATH_ELLIPSIS},                    // SS_PATHELLIPSIS
        {0xC000, DT_WORD_ELLIPSIS | DT_END_ELLIPSIS | DT_PATH_ELLIPSIS},  // SS_WORDELLIPSIS
        {0x100, DT_WORDBREAK},  // bits outside 0xC20C keep wrapping
        {0x1000, DT_WORDBREAK},
        {0x4282,
         DT_RIGHT | DT_NOPREFIX | DT_VCENTER | DT_SINGLELINE | DT_WORD_ELLIPSIS | DT_END_ELLIPSIS},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(DrawTextFormatFromStyle(c.style), c.format) << std::hex << "style 0x" << c.style;
}

struct QtCase {
    unsigned format;
    int flags;
    Qt::TextElideMode elide;
};

TEST(ClearStaticFormat, DrawingFormatMapsToQtFlags) {
    const int mnemonic = Qt::TextShowMnemonic;
    const QtCase cases[] = {
        {DT_WORDBREAK, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | mnemonic, Qt::ElideNone},
        {DT_CENTER | DT_RIGHT, Qt::AlignHCenter | Qt::AlignTop | mnemonic, Qt::ElideNone},
        {DT_RIGHT | DT_NOPREFIX, Qt::AlignRight | Qt::AlignTop, Qt::ElideNone},
        {DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX,
         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, Qt::ElideNone},
        {DT_WORD_ELLIPSIS | DT_END_ELLIPSIS, Qt::AlignLeft | Qt::AlignTop | mnemonic,
         Qt::ElideRight},
        {DT_WORD_ELLIPSIS | DT_PATH_ELLIPSIS, Qt::AlignLeft | Qt::AlignTop | mnemonic,
         Qt::ElideMiddle},
    };
    for (const QtCase& c : cases) {
        const QtTextFormat got = QtTextFormatFromDrawText(c.format);
        EXPECT_EQ(got.flags, c.flags) << std::hex << "format 0x" << c.format;
        EXPECT_EQ(got.elide, c.elide) << std::hex << "format 0x" << c.format;
    }
}
