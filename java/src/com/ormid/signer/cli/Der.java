package com.ormid.signer.cli;

import java.math.BigInteger;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** A minimal DER reader: enough to find the parts of a CMS message and of a public key the tool shows. */
public final class Der {
    /** Tag of SEQUENCE. */
    public static final int SEQUENCE = 0x30;
    /** Tag of SET. */
    public static final int SET = 0x31;
    /** Tag of INTEGER. */
    public static final int INTEGER = 0x02;
    /** Tag of BIT STRING. */
    public static final int BIT_STRING = 0x03;
    /** Tag of OCTET STRING. */
    public static final int OCTET_STRING = 0x04;
    /** Tag of OBJECT IDENTIFIER. */
    public static final int OID = 0x06;

    private Der() {}

    /** One element: its tag and where its contents lie in the buffer it was read from. */
    public static final class Element {
        private final byte[] data;
        private final int tag;
        private final int start;
        private final int contentStart;
        private final int end;

        /**
         * An element of a buffer.
         *
         * @param data the buffer
         * @param tag the tag octet
         * @param start offset of the element's first octet
         * @param contentStart offset of its contents
         * @param end offset just past its contents
         */
        public Element(byte[] data, int tag, int start, int contentStart, int end) {
            this.data = data;
            this.tag = tag;
            this.start = start;
            this.contentStart = contentStart;
            this.end = end;
        }

        /**
         * The buffer the element was read from.
         *
         * @return the buffer itself
         */
        public byte[] data() {
            return data;
        }

        /**
         * The tag octet.
         *
         * @return the tag
         */
        public int tag() {
            return tag;
        }

        /**
         * Offset of the element's first octet.
         *
         * @return the offset
         */
        public int start() {
            return start;
        }

        /**
         * Offset of the contents.
         *
         * @return the offset
         */
        public int contentStart() {
            return contentStart;
        }

        /**
         * Offset just past the contents.
         *
         * @return the offset
         */
        public int end() {
            return end;
        }

        /**
         * The contents octets.
         *
         * @return a copy
         */
        public byte[] content() {
            return Arrays.copyOfRange(data, contentStart, end);
        }

        /**
         * The whole encoding, header included.
         *
         * @return a copy
         */
        public byte[] encoded() {
            return Arrays.copyOfRange(data, start, end);
        }

        /**
         * The elements inside a constructed element.
         *
         * @return the children in order
         * @throws IllegalArgumentException when the contents are not a series of elements
         */
        public List<Element> children() {
            List<Element> children = new ArrayList<>();
            for (int at = contentStart; at < end;) {
                Element child = read(data, at, end);
                children.add(child);
                at = child.end;
            }
            return children;
        }

        /**
         * The child at a position.
         *
         * @param index position among the children
         * @param expectedTag the tag it must have
         * @return the child
         * @throws IllegalArgumentException when there is no such child or its tag differs
         */
        public Element child(int index, int expectedTag) {
            List<Element> children = children();
            if (index >= children.size() || children.get(index).tag != expectedTag) {
                throw new IllegalArgumentException("unexpected structure");
            }
            return children.get(index);
        }
    }

    /**
     * Reads the one element that fills the buffer.
     *
     * @param data DER bytes
     * @return the element
     * @throws IllegalArgumentException when the bytes are not exactly one element
     */
    public static Element parse(byte[] data) {
        Element element = read(data, 0, data.length);
        if (element.end != data.length) {
            throw new IllegalArgumentException("trailing bytes after the DER element");
        }
        return element;
    }

    private static Element read(byte[] data, int at, int limit) {
        if (at + 2 > limit) {
            throw new IllegalArgumentException("truncated DER element");
        }
        int tag = data[at] & 0xFF;
        if ((tag & 0x1F) == 0x1F) {
            throw new IllegalArgumentException("multi-octet tags are not used here");
        }
        int first = data[at + 1] & 0xFF;
        int contentStart = at + 2;
        long length = first;
        if (first > 0x80) {
            int count = first & 0x7F;
            if (count > 4 || contentStart + count > limit) {
                throw new IllegalArgumentException("bad DER length");
            }
            length = 0;
            for (int i = 0; i < count; ++i) {
                length = (length << 8) | (data[contentStart++] & 0xFF);
            }
        } else if (first == 0x80) {
            throw new IllegalArgumentException("indefinite length is not DER");
        }
        if (length > limit - contentStart) {
            throw new IllegalArgumentException("truncated DER element");
        }
        return new Element(data, tag, at, contentStart, contentStart + (int) length);
    }

    /**
     * The dotted form of an OBJECT IDENTIFIER.
     *
     * @param oid the element
     * @return e.g. "1.2.643.7.1.1.1.1"
     * @throws IllegalArgumentException when the element is not an OID
     */
    public static String oid(Element oid) {
        if (oid.tag() != OID || oid.end() == oid.contentStart()) {
            throw new IllegalArgumentException("not an object identifier");
        }
        StringBuilder text = new StringBuilder();
        BigInteger value = BigInteger.ZERO;
        boolean first = true;
        for (byte b : oid.content()) {
            value = value.shiftLeft(7).or(BigInteger.valueOf(b & 0x7F));
            if ((b & 0x80) == 0) {
                if (first) {
                    int arc = value.compareTo(BigInteger.valueOf(80)) >= 0 ? 2 : value.intValue() / 40;
                    text.append(arc).append('.').append(value.subtract(BigInteger.valueOf(40L * arc)));
                    first = false;
                } else {
                    text.append('.').append(value);
                }
                value = BigInteger.ZERO;
            }
        }
        return text.toString();
    }

    /**
     * Upper-case hexadecimal text of bytes.
     *
     * @param bytes the bytes
     * @return two characters a byte, no separators
     */
    public static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02X", b & 0xFF));
        }
        return text.toString();
    }

    /**
     * Bytes from hexadecimal text (either case, no separators).
     *
     * @param text an even number of hexadecimal digits
     * @return the bytes
     * @throws IllegalArgumentException for an odd length or a character that is not a hexadecimal digit
     */
    public static byte[] unhex(String text) {
        if (text.length() % 2 != 0) {
            throw new IllegalArgumentException("odd number of hexadecimal digits");
        }
        byte[] bytes = new byte[text.length() / 2];
        for (int i = 0; i < bytes.length; ++i) {
            int high = Character.digit(text.charAt(2 * i), 16);
            int low = Character.digit(text.charAt(2 * i + 1), 16);
            if (high < 0 || low < 0) {
                throw new IllegalArgumentException("not a hexadecimal digit");
            }
            bytes[i] = (byte) (high << 4 | low);
        }
        return bytes;
    }
}
