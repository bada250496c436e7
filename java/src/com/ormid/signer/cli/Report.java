package com.ormid.signer.cli;

import java.io.PrintStream;
import java.util.List;
import java.util.Map;

/**
 * Writes a command's result, a tree of maps (insertion order kept), lists, texts, numbers and booleans, either as
 * JSON ({@code --json}) or as indented "name: value" lines for people.
 */
public final class Report {
    private Report() {}

    /**
     * Writes the result.
     *
     * @param out where to write
     * @param result the tree: {@link Map} with text keys, {@link List}, {@link String}, {@link Number},
     *               {@link Boolean} or null
     * @param json true for one JSON document, false for text lines
     */
    public static void write(PrintStream out, Object result, boolean json) {
        StringBuilder text = new StringBuilder();
        if (json) {
            json(text, result);
            text.append('\n');
        } else {
            lines(text, result, "");
        }
        out.print(text);
        out.flush();
    }

    /**
     * The JSON form of a tree.
     *
     * @param out where the text is appended
     * @param value the tree (see {@link #write})
     */
    public static void json(StringBuilder out, Object value) {
        if (value instanceof Map<?, ?>) {
            Map<?, ?> map = (Map<?, ?>) value;
            out.append('{');
            String separator = "";
            for (Map.Entry<?, ?> entry : map.entrySet()) {
                out.append(separator);
                string(out, String.valueOf(entry.getKey()));
                out.append(':');
                json(out, entry.getValue());
                separator = ",";
            }
            out.append('}');
        } else if (value instanceof List<?>) {
            List<?> list = (List<?>) value;
            out.append('[');
            String separator = "";
            for (Object item : list) {
                out.append(separator);
                json(out, item);
                separator = ",";
            }
            out.append(']');
        } else if (value instanceof Number || value instanceof Boolean) {
            out.append(value);
        } else if (value == null) {
            out.append("null");
        } else {
            string(out, value.toString());
        }
    }

    private static void string(StringBuilder out, String text) {
        out.append('"');
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            switch (c) {
                case '"':
                    out.append("\\\"");
                    break;
                case '\\':
                    out.append("\\\\");
                    break;
                case '\n':
                    out.append("\\n");
                    break;
                case '\r':
                    out.append("\\r");
                    break;
                case '\t':
                    out.append("\\t");
                    break;
                default:
                    if (c < 0x20) {
                        out.append(String.format("\\u%04x", (int) c));
                    } else {
                        out.append(c);
                    }
            }
        }
        out.append('"');
    }

    private static void lines(StringBuilder out, Object value, String indent) {
        if (value instanceof Map<?, ?>) {
            Map<?, ?> map = (Map<?, ?>) value;
            for (Map.Entry<?, ?> entry : map.entrySet()) {
                out.append(indent).append(entry.getKey()).append(':');
                Object item = entry.getValue();
                if (item instanceof Map<?, ?> || item instanceof List<?>) {
                    out.append('\n');
                    lines(out, item, indent + "  ");
                } else {
                    out.append(' ').append(scalar(item)).append('\n');
                }
            }
        } else if (value instanceof List<?>) {
            List<?> list = (List<?>) value;
            if (list.isEmpty()) {
                out.append(indent).append("(none)\n");
            }
            for (Object item : list) {
                if (item instanceof Map<?, ?> || item instanceof List<?>) {
                    out.append(indent).append("-\n");
                    lines(out, item, indent + "  ");
                } else {
                    out.append(indent).append("- ").append(scalar(item)).append('\n');
                }
            }
        } else {
            out.append(indent).append(scalar(value)).append('\n');
        }
    }

    private static String scalar(Object value) {
        return value == null ? "-" : value.toString();
    }
}
