def main():
    b = []
    for i in range(1, 1000001):
        b.append(i * 1103 % 65537)
    b.sort()
    print(b[0], b[499999], b[-1], len(b))


main()
