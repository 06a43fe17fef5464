/* The MQTT anchor of bench_forward: a small libmosquitto client that
 * publishes "topic payload" lines of a file at QoS 1, with at most WINDOW
 * messages unacknowledged at a time, and ends once the broker has
 * acknowledged every one. One thread, libmosquitto's own select loop.
 *
 *   mqttanchor HOST PORT FILE WINDOW
 */
#include <mosquitto.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

static long g_acked;
static int g_connected;

static void on_connect(struct mosquitto *m, void *u, int rc)
{
    (void)m;
    (void)u;
    g_connected = rc == 0 ? 1 : -1;
}

static void on_publish(struct mosquitto *m, void *u, int mid)
{
    (void)m;
    (void)u;
    (void)mid;
    ++g_acked;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: mqttanchor HOST PORT FILE WINDOW\n");
        return 2;
    }
    const long window = atol(argv[4]);
    FILE *f = fopen(argv[3], "rb");
    if (!f)
        return 1;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *text = malloc((size_t)size + 1);
    if (!text || fread(text, 1, (size_t)size, f) != (size_t)size)
        return 1;
    fclose(f);
    text[size] = 0;

    mosquitto_lib_init();
    struct mosquitto *m = mosquitto_new(NULL, true, NULL);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m, (unsigned)window);
    mosquitto_connect_callback_set(m, on_connect);
    mosquitto_publish_callback_set(m, on_publish);
    if (mosquitto_connect(m, argv[1], atoi(argv[2]), 30) != MOSQ_ERR_SUCCESS)
        return 1;
    while (g_connected == 0)
        if (mosquitto_loop(m, 100, 1) != MOSQ_ERR_SUCCESS)
            return 1;
    if (g_connected < 0)
        return 1;

    long sent = 0;
    char *line = text;
    for (;;) {
        while (*line && sent - g_acked < window) {
            char *end = strchr(line, '\n');
            if (!end)
                end = line + strlen(line);
            char *space = memchr(line, ' ', (size_t)(end - line));
            if (!space)
                return 1;
            *space = 0;
            if (mosquitto_publish(m, NULL, line, (int)(end - space - 1), space + 1, 1, false) !=
                MOSQ_ERR_SUCCESS)
                return 1;
            ++sent;
            line = *end ? end + 1 : end;
        }
        if (!*line && g_acked >= sent)
            break;
        if (mosquitto_loop(m, 100, 1) != MOSQ_ERR_SUCCESS)
            return 1;
    }
    mosquitto_disconnect(m);
    mosquitto_destroy(m);
    mosquitto_lib_cleanup();
    free(text);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    /* Messages sent and CPU seconds used. */
    printf("%ld %.3f\n", sent,
           usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    return 0;
}
