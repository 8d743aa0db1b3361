def main():
    parts = []
    for i in range(1, 1000001):
        parts.append(str(i))
        parts.append(",")
    print(len("".join(parts)))


main()
