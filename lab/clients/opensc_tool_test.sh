#!/usr/bin/env bash
# A standard PC/SC client, opensc-tool, meets the lab's readers and cards
# through the lab's own pcscd (PCSCLITE_CSOCK_NAME, ORMID_LAB_DIR and
# ORMID_LAB_SCRIPT come from the lab fixture, default layout).
set -u
here=$(dirname "$0")
. "$here/check.sh"
need opensc-tool
lab=$ORMID_LAB_SCRIPT
dir=$ORMID_LAB_DIR
rutoken="Aktiv Rutoken ECP 00 00"
rutoken_atr=3b:8b:01:52:75:74:6f:6b:65:6e:20:45:43:50:a0

# card_in READER yes|no: how --list-readers shows the reader.
card_in()
{
    ok opensc-tool --list-readers
    grep -qE "^[0-9]+ +$2 +$1\$" <<<"$out" || fail "reader '$1' not listed with card=$2:
$out"
}

card_in "$rutoken" Yes
card_in "Aktiv Rutoken ECP 00 01" No
card_in "Aladdin R.D. JaCarta 00 00" Yes
card_in "MS_KEY K 00 00" Yes
card_in "ORMID VEL-token 00 00" Yes
card_in "Empty Smart Card Reader 00 00" No

ok opensc-tool --reader "$rutoken" --atr
[ "$out" = "$rutoken_atr" ] || fail "Rutoken ATR: $out"
ok opensc-tool --reader "Aladdin R.D. JaCarta 00 00" --atr
[ "$out" = 3b:dc:18:ff:81:91:fe:1f:c3:80:73:c8:21:13:66:01:06:11:59:00:01:28 ] || fail "JaCarta ATR: $out"
refused opensc-tool --reader "Empty Smart Card Reader 00 00" --atr
has "Card not present"

# Rutoken chip data (model byte 52 = 0x34, 24 and 2) and PIN state (tries
# left of the device), then chip data replaced by the device fact.
ok opensc-tool --reader "$rutoken" --send-apdu 00:CA:01:89:0C
has "SW1=0x90, SW2=0x00" "00 34 00 00 18 02 00 00 00 00 00 00"
ok "$lab" set "$dir" 0A1B2C3D user-tries-left=3
ok opensc-tool --reader "$rutoken" --send-apdu 00:20:00:02
has "SW1=0x63, SW2=0xC3"
ok "$lab" set "$dir" 0A1B2C3D card.chip-data=003500001903000000000007
ok opensc-tool --reader "$rutoken" --send-apdu 00:CA:01:89:0C
has "00 35 00 00 19 03 00 00 00 00 00 07"

# Pulled out and put back.
ok "$lab" remove "$dir" "$rutoken"
card_in "$rutoken" No
refused opensc-tool --reader "$rutoken" --atr
ok "$lab" insert "$dir" "$rutoken" rutoken 0A1B2C3D
ok opensc-tool --reader "$rutoken" --atr
[ "$out" = "$rutoken_atr" ] || fail "Rutoken ATR after reinsertion: $out"

echo "opensc-tool: all checks passed"
