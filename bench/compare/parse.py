import re


def main():
    parts = []
    for i in range(1, 100001):
        parts.append("row" + str(i) + ",alpha beta," + str(i & 1023) + ",3.5,last field\n")
    text = "".join(parts)
    n = 0
    for m in re.finditer(r"([^,\n]*)[,\n]", text):
        f = m.group(1)
        n = n + 1
    print(len(text), n)


main()
