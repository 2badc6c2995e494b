/* A minimal X session manager (XSMP over ICE) for the process test: it listens,
 * prints its SESSION_MANAGER address on the first line of stdout, accepts one
 * client, asks it to save its state (a local checkpoint, no shutdown, no
 * interaction, the save a desktop session makes when it stores the session),
 * and prints the restart style hint the client set in that save:
 *   "RestartStyleHint N" (0 if-running, 1 anyway, 2 immediately, 3 never)
 * or "no RestartStyleHint" when the client set none, "no save answer" when it
 * did not answer. It then stays connected until SECONDS have passed (a
 * session manager that goes away makes libICE end its clients).
 * Usage: xsmp_probe SECONDS */
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <poll.h>
#include <cstdlib>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static SmsConn g_conn;
static int g_registered;
static int g_saveDone;
static int g_hint = -1;

static Status onRegisterClient(SmsConn conn, SmPointer data, char *previousId)
{
    (void)data;
    free(previousId);
    SmsRegisterClientReply(conn, SmsGenerateClientID(conn));
    g_registered = 1;
    return 1;
}

static void onInteractRequest(SmsConn conn, SmPointer data, int dialogType)
{
    (void)dialogType;
    (void)data;
    SmsInteract(conn);
}

static void onInteractDone(SmsConn conn, SmPointer data, Bool cancel)
{
    (void)conn, (void)data, (void)cancel;
}

static void onSaveYourselfRequest(SmsConn conn, SmPointer data, int type, Bool shutdown, int style, Bool fast,
                                  Bool global)
{
    (void)conn, (void)data, (void)type, (void)shutdown, (void)style, (void)fast, (void)global;
}

static void onSaveYourselfPhase2Request(SmsConn conn, SmPointer data)
{
    (void)data;
    SmsSaveYourselfPhase2(conn);
}

static void onSaveYourselfDone(SmsConn conn, SmPointer data, Bool success)
{
    (void)conn, (void)data, (void)success;
    g_saveDone = 1;
}

static void onCloseConnection(SmsConn conn, SmPointer data, int count, char **reasons)
{
    (void)data;
    SmFreeReasons(count, reasons);
    SmsCleanUp(conn);
    g_conn = NULL;
}

static void onSetProperties(SmsConn conn, SmPointer data, int count, SmProp **props)
{
    (void)conn, (void)data;
    for (int i = 0; i < count; ++i) {
        if (strcmp(props[i]->name, SmRestartStyleHint) == 0 && props[i]->num_vals > 0
            && props[i]->vals[0].length > 0)
            g_hint = ((unsigned char *)props[i]->vals[0].value)[0];
        SmFreeProperty(props[i]);
    }
    free(props);
}

static void onDeleteProperties(SmsConn conn, SmPointer data, int count, char **names)
{
    (void)conn, (void)data;
    for (int i = 0; i < count; ++i)
        free(names[i]);
    free(names);
}

static void onGetProperties(SmsConn conn, SmPointer data)
{
    (void)data;
    SmsReturnProperties(conn, 0, NULL);
}

static Status onNewClient(SmsConn conn, SmPointer data, unsigned long *mask, SmsCallbacks *cb, char **failure)
{
    (void)data, (void)failure;
    g_conn = conn;
    memset(cb, 0, sizeof *cb);
    cb->register_client.callback = onRegisterClient;
    cb->interact_request.callback = onInteractRequest;
    cb->interact_done.callback = onInteractDone;
    cb->save_yourself_request.callback = onSaveYourselfRequest;
    cb->save_yourself_phase2_request.callback = onSaveYourselfPhase2Request;
    cb->save_yourself_done.callback = onSaveYourselfDone;
    cb->close_connection.callback = onCloseConnection;
    cb->set_properties.callback = onSetProperties;
    cb->delete_properties.callback = onDeleteProperties;
    cb->get_properties.callback = onGetProperties;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask
        | SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask
        | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask
        | SmsGetPropertiesProcMask;
    return 1;
}

/* Only processes on this machine reach the local socket: accept them. */
static Bool acceptHost(char *hostname)
{
    (void)hostname;
    return True;
}

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? atoi(argv[1]) : 30;
    char error[256];
    if (!SmsInitialize("tesselink-xsmp-probe", "1.0", onNewClient, NULL, acceptHost, sizeof error, error)) {
        fprintf(stderr, "SmsInitialize: %s\n", error);
        return 2;
    }
    int nListen = 0;
    IceListenObj *listen = NULL;
    if (!IceListenForConnections(&nListen, &listen, sizeof error, error) || nListen == 0) {
        fprintf(stderr, "IceListenForConnections: %s\n", error);
        return 2;
    }
    for (int i = 0; i < nListen; ++i)
        IceSetHostBasedAuthProc(listen[i], acceptHost);
    /* The local transport only: the test's client is on this machine. */
    const char *address = NULL;
    for (int i = 0; i < nListen; ++i) {
        char *id = IceGetListenConnectionString(listen[i]);
        if (strncmp(id, "local/", 6) == 0 && !address)
            address = id;
    }
    if (!address) {
        fprintf(stderr, "no local transport\n");
        return 2;
    }
    printf("%s\n", address);
    fflush(stdout);

    IceConn ice = NULL;
    int asked = 0;
    time_t registeredAt = 0;
    const time_t end = time(NULL) + seconds;
    int told = 0;
    while (time(NULL) < end) {
        struct pollfd fds[16];
        int n = 0;
        for (int i = 0; i < nListen && n < 15; ++i) {
            fds[n].fd = IceGetListenConnectionNumber(listen[i]);
            fds[n++].events = POLLIN;
        }
        if (ice) {
            fds[n].fd = IceConnectionNumber(ice);
            fds[n++].events = POLLIN;
        }
        if (poll(fds, (nfds_t)n, 200) < 0)
            break;
        for (int i = 0; i < nListen; ++i) {
            if (!(fds[i].revents & POLLIN) || ice)
                continue;
            IceAcceptStatus status;
            ice = IceAcceptConnection(listen[i], &status);
            if (!ice)
                continue;
            while (IceConnectionStatus(ice) == IceConnectPending)
                if (IceProcessMessages(ice, NULL, NULL) == IceProcessMessagesIOError)
                    break;
            if (IceConnectionStatus(ice) != IceConnectAccepted) {
                IceCloseConnection(ice);
                ice = NULL;
            }
        }
        if (ice && (fds[n - 1].revents & (POLLIN | POLLHUP))) {
            if (IceProcessMessages(ice, NULL, NULL) == IceProcessMessagesIOError) {
                IceCloseConnection(ice);
                ice = NULL;
                break;
            }
        }
        if (g_registered && !registeredAt)
            registeredAt = time(NULL);
        /* Give the client a moment past its start before the save. */
        if (g_conn && registeredAt && !asked && time(NULL) >= registeredAt + 2) {
            SmsSaveYourself(g_conn, SmSaveLocal, False, SmInteractStyleNone, False);
            asked = 1;
        }
        if (g_saveDone && !told) {
            if (g_hint < 0)
                printf("no RestartStyleHint\n");
            else
                printf("RestartStyleHint %d\n", g_hint);
            fflush(stdout);
            told = 1;
        }
    }
    if (!told) {
        printf("no save answer (registered %d, asked %d)\n", g_registered, asked);
        return 1;
    }
    return 0;
}
