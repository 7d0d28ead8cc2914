#pragma once
// Numbers of the FIFF format used by the reader: tag kinds, block kinds and data types.
#include <QtGlobal>

namespace FIFFLIB {

using fiff_int_t = qint32;

namespace FIFF {
// Structural tags.
constexpr fiff_int_t FIFF_FILE_ID = 100;
constexpr fiff_int_t FIFF_DIR_POINTER = 101;
constexpr fiff_int_t FIFF_DIR = 102;
constexpr fiff_int_t FIFF_BLOCK_ID = 103;
constexpr fiff_int_t FIFF_BLOCK_START = 104;
constexpr fiff_int_t FIFF_BLOCK_END = 105;
constexpr fiff_int_t FIFF_PARENT_FILE_ID = 109;
constexpr fiff_int_t FIFF_PARENT_BLOCK_ID = 110;

// Measurement info tags.
constexpr fiff_int_t FIFF_NCHAN = 200;
constexpr fiff_int_t FIFF_SFREQ = 201;
constexpr fiff_int_t FIFF_CH_INFO = 203;
constexpr fiff_int_t FIFF_MEAS_DATE = 204;
constexpr fiff_int_t FIFF_COMMENT = 206;
constexpr fiff_int_t FIFF_FIRST_SAMPLE = 208;
constexpr fiff_int_t FIFF_EXPERIMENTER = 212;
constexpr fiff_int_t FIFF_DIG_POINT = 213;
constexpr fiff_int_t FIFF_LOWPASS = 219;
constexpr fiff_int_t FIFF_COORD_TRANS = 222;
constexpr fiff_int_t FIFF_HIGHPASS = 223;
constexpr fiff_int_t FIFF_LINE_FREQ = 235;
constexpr fiff_int_t FIFF_DATA_BUFFER = 300;
constexpr fiff_int_t FIFF_DATA_SKIP = 301;
constexpr fiff_int_t FIFF_PROJ_ID = 500;
constexpr fiff_int_t FIFF_PROJ_NAME = 501;
constexpr fiff_int_t FIFF_MNE_COORD_FRAME = 3506;
constexpr fiff_int_t FIFF_MNE_CH_NAME_LIST = 3507;

// Block kinds.
constexpr fiff_int_t FIFFB_ROOT = 999;
constexpr fiff_int_t FIFFB_MEAS = 100;
constexpr fiff_int_t FIFFB_MEAS_INFO = 101;
constexpr fiff_int_t FIFFB_RAW_DATA = 102;
constexpr fiff_int_t FIFFB_ISOTRAK = 107;
constexpr fiff_int_t FIFFB_HPI_RESULT = 109;
constexpr fiff_int_t FIFFB_CONTINUOUS_DATA = 112;
constexpr fiff_int_t FIFFB_DACQ_PARS = 117;
constexpr fiff_int_t FIFFB_SMSH_RAW_DATA = 119;
constexpr fiff_int_t FIFFB_MNE_BAD_CHANNELS = 359;

// Channel kinds.
constexpr fiff_int_t FIFFV_MEG_CH = 1;
constexpr fiff_int_t FIFFV_EEG_CH = 2;
constexpr fiff_int_t FIFFV_STIM_CH = 3;
constexpr fiff_int_t FIFFV_REF_MEG_CH = 301;

// Units.
constexpr fiff_int_t FIFF_UNIT_T = 112;
constexpr fiff_int_t FIFF_UNIT_T_M = 201;

// Coordinate frames.
constexpr fiff_int_t FIFFV_COORD_UNKNOWN = 0;
constexpr fiff_int_t FIFFV_COORD_DEVICE = 1;
constexpr fiff_int_t FIFFV_COORD_HEAD = 4;
}  // namespace FIFF

// Data types of tags.
constexpr fiff_int_t FIFFT_VOID = 0;
constexpr fiff_int_t FIFFT_BYTE = 1;
constexpr fiff_int_t FIFFT_SHORT = 2;
constexpr fiff_int_t FIFFT_INT = 3;
constexpr fiff_int_t FIFFT_FLOAT = 4;
constexpr fiff_int_t FIFFT_DOUBLE = 5;
constexpr fiff_int_t FIFFT_JULIAN = 6;
constexpr fiff_int_t FIFFT_USHORT = 7;
constexpr fiff_int_t FIFFT_UINT = 8;
constexpr fiff_int_t FIFFT_LONG = 9;
constexpr fiff_int_t FIFFT_STRING = 10;
constexpr fiff_int_t FIFFT_ULONG = 11;
constexpr fiff_int_t FIFFT_DAU_PACK13 = 13;
constexpr fiff_int_t FIFFT_DAU_PACK14 = 14;
constexpr fiff_int_t FIFFT_DAU_PACK16 = 16;
constexpr fiff_int_t FIFFT_COMPLEX_FLOAT = 20;
constexpr fiff_int_t FIFFT_COMPLEX_DOUBLE = 21;
constexpr fiff_int_t FIFFT_OLD_PACK = 23;
constexpr fiff_int_t FIFFT_CH_INFO_STRUCT = 30;
constexpr fiff_int_t FIFFT_ID_STRUCT = 31;
constexpr fiff_int_t FIFFT_DIR_ENTRY_STRUCT = 32;
constexpr fiff_int_t FIFFT_DIG_POINT_STRUCT = 33;
constexpr fiff_int_t FIFFT_CH_POS_STRUCT = 34;
constexpr fiff_int_t FIFFT_COORD_TRANS_STRUCT = 35;
constexpr fiff_int_t FIFFT_DIG_STRING_STRUCT = 36;
constexpr fiff_int_t FIFFT_STREAM_SEGMENT_STRUCT = 37;
constexpr fiff_int_t FIFFT_DATA_REF_STRUCT = 38;

// Matrix codings (bits of the tag type).
constexpr fiff_int_t FIFFTS_FS_MASK = static_cast<fiff_int_t>(0xFF000000u);
constexpr fiff_int_t FIFFTS_FS_MATRIX = 0x40000000;
constexpr fiff_int_t FIFFTS_MC_MASK = 0x00FF0000;
constexpr fiff_int_t FIFFTS_MC_DENSE = 0x00000000;
constexpr fiff_int_t FIFFTS_MC_CCS = 0x00100000;
constexpr fiff_int_t FIFFTS_MC_RCS = 0x00200000;
constexpr fiff_int_t FIFFTS_BASE_MASK = 0x00000FFF;

// A next pointer of -1: there is no next tag.
constexpr fiff_int_t FIFFV_NEXT_NONE = -1;
constexpr fiff_int_t FIFFV_NEXT_SEQ = 0;

}  // namespace FIFFLIB
